#!/usr/bin/env bash
# apt_helper_test.sh SOURCE_DIR SCRATCH_DIR: drives scripts/install-deps.sh and its apt
# helper against a scratch repository laid out as a mirror that is mid-sync: the security
# suite's i386 index has the wrong size. apt runs with its own configuration, lists and an
# empty package status, and installs are simulated, so the machine's apt is never touched.
set -uo pipefail
src=$1
work=$2/apt-helper
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
failed=0
passed=0
check() { # check NAME CONDITION...
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}

# A package index entry; apt-get -s resolves from the index alone, so no .deb is needed.
entry() { # entry NAME VERSION ARCH [DEPENDS]
  printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMaintainer: t <t@t>\n' "$1" "$2" "$3"
  [ "$3" = all ] || [ "${1#lib}" = "$1" ] || printf 'Multi-Arch: same\n'
  [ -z "${4:-}" ] || printf 'Depends: %s\n' "$4"
  printf 'Filename: pool/%s_%s_%s.deb\nSize: 1000\nSHA256: %064d\nDescription: test\n\n' "$1" "$2" "$3" 0
}
# suite SUITE CODENAME BROKEN_ARCH: dists/SUITE with the indexes written below it; the
# Release names BROKEN_ARCH's Packages.xz with a size 7 bytes off.
suite() {
  local dir=repo/dists/$1
  {
    printf 'Origin: Test\nSuite: %s\nCodename: %s\nArchitectures: amd64 i386\nComponents: main\n' "$1" "$2"
    printf 'Date: %s\nSHA256:\n' "$(date -Ru)"
    # As on a mirror: the plain index is named (apt looks for it) but only its .xz is served.
    for arch in amd64 i386; do
      local f=main/binary-$arch/Packages size
      xz -k -f "$dir/$f"
      for g in "$f" "$f.xz"; do
        size=$(stat -c %s "$dir/$g")
        [ "$arch" != "$3" ] || size=$((size + 7))
        printf ' %s %s %s\n' "$(sha256sum "$dir/$g" | cut -d' ' -f1)" "$size" "$g"
      done
      rm "$dir/$f"
    done
  } >"$dir/Release"
}
mkdir -p repo/dists/{tvr,tvr-security}/main/binary-{amd64,i386}
# As with a -dev package and a 32-bit program on one library: the security suite's -dev
# wants its library at 1.1, whose i386 twin sits in the index that failed.
{
  entry tvr-tool 1.0 amd64
  entry libtvr 1.0 amd64
  entry libtvr-dev 1.0 amd64 "libtvr (= 1.0)"
  entry tvr-needs 1.0 amd64 libgone
} >repo/dists/tvr/main/binary-amd64/Packages
{
  entry libtvr 1.0 i386
  entry tvr32 1.0 i386 libtvr
} >repo/dists/tvr/main/binary-i386/Packages
{
  entry libtvr 1.1 amd64
  entry libtvr-dev 1.1 amd64 "libtvr (= 1.1)"
} >repo/dists/tvr-security/main/binary-amd64/Packages
entry libtvr 1.1 i386 >repo/dists/tvr-security/main/binary-i386/Packages
suite tvr tvr none
suite tvr-security tvr-security i386

mkdir -p state/lists/partial cache/archives/partial parts prefs
: >status
echo "deb [trusted=yes] file:$work/repo tvr main" >sources.list
echo "deb [trusted=yes] file:$work/repo tvr-security main" >>sources.list
conf() { # conf ARCH...: an apt configuration that sees only the scratch folders
  cat <<CONF
Dir::State "$work/state";
Dir::State::Lists "$work/state/lists";
Dir::State::status "$work/status";
Dir::Cache "$work/cache";
Dir::Cache::archives "$work/cache/archives";
Dir::Etc::SourceList "$work/sources.list";
Dir::Etc::SourceParts "$work/parts";
Dir::Etc::Parts "$work/parts";
Dir::Etc::Preferences "$work/prefs.none";
Dir::Etc::PreferencesParts "$work/prefs";
APT::Architecture "amd64";
APT::Sandbox::User "$(id -un)";
Debug::NoLocking "true";
CONF
  printf 'APT::Architectures { %s};\n' "$(printf '"%s"; ' "$@")"
}
# As on a machine whose lists were read before the i386 architecture was added: a good
# refresh for amd64 alone; then, with i386, the security suite's refresh fails as a whole
# and its older amd64 lists stay.
conf amd64 >apt-amd64.conf
conf amd64 i386 >apt.conf
APT_CONFIG=$work/apt-amd64.conf apt-get update -qq || { echo "FAILED: the first refresh"; exit 1; }
printf 'VERSION_CODENAME=tvr\n' >os-release

export APT_CONFIG=$work/apt.conf APT_SUDO="" APT_INSTALL="apt-get -s install" \
  APT_OS_RELEASE=$work/os-release APT_TRIES=2 APT_PAUSE=0 TMPDIR=$work
deps() { DEPS_PACKAGES="$*" bash "$src/scripts/install-deps.sh" >out 2>&1; }
note_partial="apt: some package lists could not be refreshed (the mirror may be mid-sync); going on with the lists at hand."
note_base="apt: installed from tvr without its newest security updates (the mirror was mid-sync); run 'apt-get upgrade' once it has synced."

# A partial index: the good lists still resolve an install, with one plain line about it.
deps tvr-tool
status=$?
check "partial index: exit 0" [ $status = 0 ]
check "partial index: note" grep -qxF "$note_partial" out
check "partial index: resolved" grep -q '^Inst tvr-tool ' out
check "partial index: no base-suite retry" bash -c "! grep -qF 'without its newest' out"
cp out partial.out

# The security suite's amd64 version has no i386 twin in sight: the base suite resolves it.
deps libtvr-dev tvr32:i386
status=$?
check "resolution retry: exit 0" [ $status = 0 ]
check "resolution retry: base versions" grep -q '^Inst libtvr-dev (1.0 ' out
check "resolution retry: note" grep -qxF "$note_base" out
cp out retry.out

# Neither resolves: a plain message naming the packages, and a failing status.
deps tvr-tool tvr-needs
status=$?
check "both fail: exit non-zero" [ $status != 0 ]
check "both fail: names the packages" grep -qxF "Could not install: tvr-tool tvr-needs" out
check "both fail: says to try later" grep -qF "run 'make test' again later" out
check "both fail: no resolver page" bash -c "! grep -q 'held broken\\|unmet dependencies' out"
cp out fail.out

# Everything present: no apt at all (an empty status would otherwise list it as missing).
APT_INSTALL=false DEPS_PACKAGES="dpkg" bash "$src/scripts/install-deps.sh" >out 2>&1
status=$?
check "nothing missing: exit 0 without apt" [ $status = 0 ]
check "nothing missing: silent" [ ! -s out ]

for f in partial retry fail; do
  [ $failed = 0 ] || { echo "--- $f"; cat "$f.out"; }
done
echo "$passed passed, $failed failed"
[ $failed = 0 ]
