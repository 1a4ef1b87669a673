# cmake -DUI=<skin>/x.ui -DID=x -DOUT=<dir> -P layout_code.cmake
# Prepares one layout file of the skin for uic: its images become "skin:" paths (the
# form loader reads them relative to the skin folder, compiled code from anywhere), its
# texts untranslated, and its form class a name of its own, since two layouts may
# share one. Writes <OUT>/<ID>.ui
# and <OUT>/<ID>_layout.cpp, whose BuildLayout_<ID> makes the tree as the loader would.
file(READ ${UI} text)

string(REGEX MATCH "<widget class=\"([A-Za-z0-9_]+)\"" top "${text}")
if(NOT top)
  message(FATAL_ERROR "${UI}: no top-level widget")
endif()
set(top_class ${CMAKE_MATCH_1})
# The first <class> is the form's; custom widgets keep theirs.
string(FIND "${text}" "<class>" open)
string(FIND "${text}" "</class>" close)
if(open LESS 0 OR close LESS open)
  message(FATAL_ERROR "${UI}: no form class")
endif()
string(SUBSTRING "${text}" 0 ${open} head)
math(EXPR after "${close} + 8")
string(SUBSTRING "${text}" ${after} -1 rest)
set(text "${head}<class>Layout_${ID}</class>${rest}")

foreach(tag pixmap normaloff normalon disabledoff disabledon activeoff activeon selectedoff
    selectedon)
  string(REGEX REPLACE "<${tag}>([^<:][^<]*)</${tag}>" "<${tag}>skin:\\1</${tag}>" text "${text}")
endforeach()
# The old form of an icon: its path after the state tags.
string(REGEX REPLACE "</normaloff>([^<:][^<]*)</iconset>" "</normaloff>skin:\\1</iconset>" text
  "${text}")
# Texts are not translated: set as the widget is made, like the form loader does, and not
# after its children and layouts, where a style sheet's [role=...] rules would miss them.
string(REPLACE "<string>" "<string notr=\"true\">" text "${text}")
file(WRITE ${OUT}/${ID}.ui.new "${text}")
file(COPY_FILE ${OUT}/${ID}.ui.new ${OUT}/${ID}.ui ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}/${ID}.ui.new)

file(WRITE ${OUT}/${ID}_layout.cpp.new "// Generated from ${UI}.
#include \"ui_${ID}.h\"
#include \"ui/skin.h\"

QWidget* BuildLayout_${ID}(QWidget* parent) {
    auto* root = new ${top_class}(parent);
    Ui::Layout_${ID} form;
    form.setupUi(root);
    return root;
}
")
file(COPY_FILE ${OUT}/${ID}_layout.cpp.new ${OUT}/${ID}_layout.cpp ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}/${ID}_layout.cpp.new)
