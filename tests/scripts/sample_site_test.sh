#!/bin/sh
# scripts/sample-site end to end, on a site in a scratch directory and free
# ports: a second start while the site serves leaves the running server
# alone; the site is made once, so a restart keeps the operator's settings,
# tables, pages and logs and takes a port only when one is given; --fresh
# makes it afresh; the server keeps to the site's registry root and the
# managers beside korridan find the site's own BBS.
#
#   sample_site_test.sh <source top> <bin directory> <loadclient>
set -u
top=$1 bin=$2 loadclient=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/halv-site-XXXXXX")
site=$work/site
server=""
cleanup() {
  [ -n "$server" ] && kill -TERM "$server" 2>/dev/null && wait "$server"
  rm -rf "$work"
}
trap cleanup EXIT
unset DISPLAY WAYLAND_DISPLAY SITE_PORT
# A root of another instance, which the site's server must not use.
export HALVORINE_REGISTRY="$work/elsewhere"

fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/*.err; do [ -s "$f" ] && { echo "== $f"; cat "$f"; }; done >&2
  exit 1
}

# The status code of a GET (curl's 000 when nothing answers); the body goes
# to $work/body. Further arguments go to curl.
status() {
  port=$1 path=$2
  shift 2
  curl -s -o "$work/body" -w '%{http_code}' "$@" "http://127.0.0.1:$port$path"
}

# Starts the site's server in the background ($1: the port to give, or
# empty; the rest: further arguments) and waits until it answers on $port.
start() {
  given=$1 name=start$((${starts:-0} + 1))
  shift
  starts=$((${starts:-0} + 1))
  env SITE_DIR="$site" ${given:+SITE_PORT=$given} "$top/scripts/sample-site" "$bin" "$@" \
    >"$work/$name.out" 2>"$work/$name.err" &
  server=$!
  i=0
  while [ "$(status "$port" /)" != 200 ]; do
    kill -0 "$server" 2>/dev/null || fail "$name: the server ended before it answered on $port"
    i=$((i + 1))
    [ $i -lt 300 ] || fail "$name: no answer on $port within 30 s"
    sleep 0.1
  done
}

# Stops the server as SIGTERM does and checks its exit status.
stop() {
  kill -TERM "$server"
  wait "$server"
  code=$?
  server=""
  [ "$code" -eq 0 ] || fail "the server ended with status $code after SIGTERM"
}

key() {  # the first line of KORRIDAN.INI that sets key $1
  grep -i "^$1=" "$site/KORRIDAN.INI" | head -n 1 | tr -d '\r'
}

sql() {  # one value from a table of the site
  sqlite3 "$site/Data/$1.db" "$2"
}

# Refused before anything is made or started: a port that is no number from
# 1 to 65535 (one row is empty), and commands with the window, where korridan
# reads none.
while IFS='|' read -r value args expected; do
  env SITE_PORT="$value" SITE_DIR="$work/refused" timeout 20 "$top/scripts/sample-site" "$bin" $args \
    >"$work/refused.out" 2>"$work/refused.err"
  code=$?
  case "$code" in 1 | 2) ;; *) fail "SITE_PORT='$value' $args: status $code" ;; esac
  grep -qF -- "${expected:-SITE_PORT='$value' is no port}" "$work/refused.err" ||
    fail "SITE_PORT='$value' $args: said no word of it"
  [ -e "$work/refused" ] && fail "SITE_PORT='$value' $args: the site was made"
done <<'EOF'
8O81
0
65536
-1

80a
8081|--window --commands|usage:
EOF

port1=$("$loadclient" --free-port)
port2=$("$loadclient" --free-port)
[ "$port1" != "$port2" ] || port2=$("$loadclient" --free-port)

# A new site, on the port given.
port=$port1
start "$port1"
for f in korridan secmanager libmanager confmanager QX.DLL qxbbs/SUBBOARD.DAT; do
  [ -e "$site/$f" ] || fail "the new site has no $f"
done
if [ ! -e "$site/registry/aliases" ] || [ -e "$work/elsewhere" ]; then fail "the server used another registry root"; fi
[ "$(key CONFIG.QX2)" = "CONFIG.QX2=$site/qxbbs/" ] || fail "the site's BBS path is '$(key CONFIG.QX2)'"

# The managers beside korridan open the site's BBS with the site's registry
# root, from the site's directory.
for tool in libmanager confmanager; do
  (cd "$site" && HALVORINE_REGISTRY=$site/registry "./$tool" --commands >"$work/$tool.out" 2>"$work/$tool.err" <<'EOF'
choose Main.ConfList 1
show Main.ConfList
menu Exit1
EOF
  ) || fail "$tool ended with status $?"
  [ -s "$work/$tool.err" ] && fail "$tool wrote to standard error"
  [ "$(grep -c '^@ item Main.ConfList ' "$work/$tool.out")" = 3 ] || fail "$tool showed no list of three"
  grep -q '^@ item Main.ConfList 1 1 ' "$work/$tool.out" || fail "$tool showed the chosen entry unselected"
done

# A second start while the first serves: refused, the first unharmed.
korridan_inode=$(stat -c %i "$site/korridan")
env SITE_DIR="$site" SITE_PORT="$port1" "$top/scripts/sample-site" "$bin" >"$work/second.out" 2>"$work/second.err"
code=$?
[ "$code" -ne 0 ] || fail "a second start while the site serves ended with status 0"
grep -q "korridan already runs on $site" "$work/second.err" || fail "a second start while the site serves said no word of it"
kill -0 "$server" 2>/dev/null || fail "the running server died at a second start"
[ "$(status "$port1" /)" = 200 ] || fail "the running server no longer answers after a second start"
[ "$(stat -c %i "$site/korridan")" = "$korridan_inode" ] || fail "a refused start replaced the programs"

# The operator's edits: a setting, the tables (the seeded user removed, a
# group added) and the index page.
[ "$(key MaxSockets)" = "MaxSockets=16" ] || fail "the new site has '$(key MaxSockets)'"
sed -i 's/^MaxSockets=16/MaxSockets=12/' "$site/KORRIDAN.INI"
sql USERS "DELETE FROM USERS WHERE USERID='ANN';"
sql GROUPS "INSERT INTO GROUPS VALUES ('GUESTS','Guests');"
echo "<html><body>edited page</body></html>" >"$site/HTDocs/index.html"
stop
log_lines=$(wc -l <"$site/Logs/ACCESS.LOG")
[ "$log_lines" -gt 0 ] || fail "the first server wrote no access log"

# A restart on another port given: the port taken, the edits kept, the
# programs put in place again.
rm -f "$site/secmanager"
port=$port2
start "$port2"
[ "$(key Port)" = "Port=$port2" ] || fail "the port given was not written: '$(key Port)'"
[ "$(key MaxSockets)" = "MaxSockets=12" ] || fail "a restart wrote over the settings: '$(key MaxSockets)'"
[ "$(sql USERS "SELECT count(*) FROM USERS WHERE USERID='ANN';")" = 0 ] || fail "a restart seeded the tables again"
[ "$(sql GROUPS "SELECT count(*) FROM GROUPS WHERE GROUPID='GUESTS';")" = 1 ] || fail "a restart lost a table row"
grep -q "edited page" "$work/body" || fail "a restart wrote over the index page"
[ "$(status "$port2" /private/ -u ann:secret)" = 401 ] || fail "the removed user still logs in"
[ -x "$site/secmanager" ] || fail "a restart did not put the programs in place"
[ "$(wc -l <"$site/Logs/ACCESS.LOG")" -gt "$log_lines" ] || fail "a restart lost the access log"
stop

# A restart without a port keeps the site's; --window without a display
# says that it runs headless.
start "" --window
stop
grep -q "no display.*running headless" "$work/start3.err" || fail "--window without a display said no word of it"

# --commands gives the console the operator's commands from standard input.
env SITE_DIR="$site" timeout 30 "$top/scripts/sample-site" "$bin" --commands >"$work/commands.out" 2>"$work/commands.err" <<'EOF'
select App.TabSet 1
show App.ConnectionList
menu ExitMenu
EOF
code=$?
[ "$code" -eq 0 ] || fail "--commands ended with status $code"
grep -q "^@ row App.ConnectionList 0 .*| From | Command" "$work/commands.out" || fail "--commands showed no connection list"

# --fresh makes the sample site afresh.
port=$port1
start "$port1" --fresh
[ "$(key MaxSockets)" = "MaxSockets=16" ] || fail "--fresh kept '$(key MaxSockets)'"
[ "$(sql GROUPS "SELECT count(*) FROM GROUPS WHERE GROUPID='GUESTS';")" = 0 ] || fail "--fresh kept the tables"
grep -q "It works" "$work/body" || fail "--fresh kept the index page"
[ "$(status "$port1" /private/ -u ann:secret)" = 200 ] || fail "--fresh did not seed the user ann"
stop
echo "PASS"
