# Sourced by scripts/serve, scripts/sample-site and scripts/screenshot: what
# they build, and the check of the sample site's options.

# Only what serving and the three tools need: the programs with their
# libraries, the page engine, the log plug-in, the sample extension
# libraries, the BBS library and the maker of its sample BBS.
site_targets="korridan morvex halvlog ext_hello ext_postlog ext_later ext_redirect
  secmanager libmanager confmanager qx mkqxsample"

# Reads the arguments ([bin directory] [--window | --commands] [--fresh]) into
# site_bin (empty when not given), site_mode (korridan's options) and
# site_fresh, and checks SITE_PORT, leaving it without leading zeros. A wrong
# one ends the script with status 2, before anything is done; the usage line
# shows site_synopsis.
site_options() {
  site_bin='' site_mode=--headless site_fresh='' site_window='' site_commands=''
  for arg in "$@"; do
    case "$arg" in
      --window) site_window=1 ;;
      --commands) site_commands=1 ;;
      --fresh) site_fresh=1 ;;
      -* | "") site_usage ;;
      *) [ -z "$site_bin" ] || site_usage
         site_bin=$arg ;;
    esac
  done
  # korridan takes commands only headless.
  if [ -n "$site_window" ]; then
    [ -z "$site_commands" ] || site_usage
    site_mode=
  elif [ -n "$site_commands" ]; then
    site_mode="--headless --commands"
  fi
  if [ -n "${SITE_PORT+set}" ]; then
    site_port=${SITE_PORT#"${SITE_PORT%%[!0]*}"}
    case "$site_port" in
      "" | *[!0-9]*) site_port= ;;
      *) [ ${#site_port} -le 5 ] && [ "$site_port" -le 65535 ] || site_port= ;;
    esac
    if [ -z "$site_port" ]; then
      echo "${0##*/}: SITE_PORT='$SITE_PORT' is no port: give a number from 1 to 65535, or leave SITE_PORT unset to keep the site's" >&2
      exit 2
    fi
    SITE_PORT=$site_port
  fi
}

site_usage() {
  echo "usage: $0 $site_synopsis" >&2
  exit 2
}
