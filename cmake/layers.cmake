# The libraries of the layers and their links, shared by the Linux build (CMakeLists.txt)
# and the Windows one (cmake/windows/CMakeLists.txt). Set before including: TALVORA_ROOT,
# TALVORA_GUI, and TALVORA_UI_LINKS (what the toolkit layer links beyond Qt's base).

# One library per layer, and per feature above the toolkit, each linked only to the
# layers below it: platform <- core <- ui <- account, software, backup, browser <- app.
# A call that reaches up a layer fails to link (see talvora_layer_check below).

# The operating-system layer: system calls only, no Qt, no core.
add_library(talvora_platform STATIC)
target_include_directories(talvora_platform PUBLIC ${TALVORA_ROOT})
target_link_libraries(talvora_platform PUBLIC Threads::Threads)

# Log, settings, HTTP client, texts and digests, messages, machine queries.
add_library(talvora_core STATIC)
target_link_libraries(talvora_core PUBLIC talvora_platform CURL::libcurl OpenSSL::Crypto
  PkgConfig::JSONCPP Threads::Threads)

# The non-window code of each feature: what a program without a display links.
add_library(talvora_account STATIC)
target_link_libraries(talvora_account PUBLIC talvora_core PkgConfig::QRENCODE)
add_library(talvora_software STATIC)
target_link_libraries(talvora_software PUBLIC talvora_core)
add_library(talvora_backup STATIC)
target_link_libraries(talvora_backup PUBLIC talvora_account talvora_software talvora_core ZLIB::ZLIB
  PkgConfig::MINIZIP)
add_library(talvora_browser STATIC)
target_link_libraries(talvora_browser PUBLIC talvora_core)
# Start-up steps of the program that need no window.
add_library(talvora_startup STATIC)
target_link_libraries(talvora_startup PUBLIC talvora_core)

if(TALVORA_GUI)
  # The toolkit layer, then the windows of each folder.
  add_library(talvora_ui STATIC)
  target_link_libraries(talvora_ui PUBLIC talvora_core Qt6::Core Qt6::Gui Qt6::Widgets
    ${TALVORA_UI_LINKS})
  add_library(talvora_account_ui STATIC)
  target_link_libraries(talvora_account_ui PUBLIC talvora_account talvora_ui)
  add_library(talvora_browser_ui STATIC)
  target_link_libraries(talvora_browser_ui PUBLIC talvora_browser talvora_account talvora_ui)
  add_library(talvora_software_ui STATIC)
  target_link_libraries(talvora_software_ui PUBLIC talvora_software talvora_ui)
  add_library(talvora_backup_ui STATIC)
  target_link_libraries(talvora_backup_ui PUBLIC talvora_backup talvora_ui)
  add_library(talvora_app_ui STATIC)
  target_link_libraries(talvora_app_ui PUBLIC talvora_account_ui talvora_backup_ui
    talvora_browser_ui talvora_software_ui talvora_startup talvora_ui)
  # Everything with windows, for the program and the window tests.
  add_library(talvora_gui INTERFACE)
  target_link_libraries(talvora_gui INTERFACE talvora_app_ui)
endif()

# Links every object of a library with only what it declares below it: an upward call
# or a missing dependency is an undefined symbol here.
function(talvora_layer_check lib)
  add_executable(layer_check_${lib} ${TALVORA_ROOT}/cmake/layer_check_main.cpp)
  target_link_libraries(layer_check_${lib} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${lib}>")
  set_target_properties(layer_check_${lib} PROPERTIES RUNTIME_OUTPUT_DIRECTORY
    ${CMAKE_BINARY_DIR}/layer_check)
endfunction()
