# apt.sh: the project's apt calls, sourced by install-deps.sh, wine-tests.sh and
# cross-deps.sh. A Debian mirror that is mid-sync serves some index files whose size does
# not match its Release file, often for hours; a set-up must get through that:
#   apt_refresh          apt-get update, tried a few times; carries on with the lists at hand
#   apt_install PKG...   apt-get install; when apt cannot resolve it, once more against the
#                        base suite of the running release (-t <codename>)
#   apt_give_up VERB WHAT...  the plain closing message when packages cannot be had now
# Each returns non-zero only when the packages could not be installed.
#
# Script-only seams, for the tests that drive these functions against a scratch repository:
#   APT_SUDO          prefix of privileged calls (default: sudo unless run as root)
#   APT_INSTALL       the install command (default: apt-get install)
#   APT_OS_RELEASE    the os-release file naming the codename (default: /etc/os-release)
#   APT_TRIES         tries of apt-get update (default 3)
#   APT_PAUSE         seconds between them (default 5)

if [ -z "${APT_SUDO+set}" ]; then
  APT_SUDO=""
  if [ "$(id -u)" -ne 0 ]; then APT_SUDO="sudo"; fi
fi

# apt's own output of the last call, kept for the user when the install fails.
apt_log="${TMPDIR:-/tmp}/talvora-apt-$(id -u).log"

apt_refresh() {
  local tries=${APT_TRIES:-3} pause=${APT_PAUSE:-5} i
  for ((i = 1; i <= tries; i++)); do
    if $APT_SUDO apt-get update -qq >"$apt_log" 2>&1; then
      return 0
    fi
    if [ "$i" -lt "$tries" ]; then sleep "$pause"; fi
  done
  echo "apt: some package lists could not be refreshed (the mirror may be mid-sync); going on with the lists at hand."
  return 0
}

apt_codename() {
  (
    # shellcheck disable=SC1090
    . "${APT_OS_RELEASE:-/etc/os-release}" 2>/dev/null
    echo "${VERSION_CODENAME:-}"
  )
}

apt_install() {
  local -a install
  read -r -a install <<<"${APT_INSTALL:-apt-get install}"
  local flags=(-y -qq --no-install-recommends)
  if DEBIAN_FRONTEND=noninteractive $APT_SUDO "${install[@]}" "${flags[@]}" "$@" >"$apt_log" 2>&1; then
    cat "$apt_log"
    return 0
  fi
  # A newer suite (usually the security one) whose lists came only in part asks for
  # versions whose other-architecture twins apt cannot see; the base suite has them all.
  local codename
  codename=$(apt_codename)
  if [ -n "$codename" ] &&
    DEBIAN_FRONTEND=noninteractive $APT_SUDO "${install[@]}" "${flags[@]}" -t "$codename" "$@" \
      >"$apt_log" 2>&1; then
    cat "$apt_log"
    echo "apt: installed from $codename without its newest security updates (the mirror was mid-sync); run 'apt-get upgrade' once it has synced."
    return 0
  fi
  apt_give_up install "$@"
  return 1
}

# apt_give_up VERB WHAT...: "Could not VERB: WHAT", with apt's output of the call in $apt_log.
apt_give_up() {
  local verb=$1
  shift
  echo "Could not $verb: $*" >&2
  echo "The package mirror may be mid-sync or out of reach; run 'make test' again later (apt's output: $apt_log)." >&2
}
