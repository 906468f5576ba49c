# Sourced by the benchmarks: a line's database of their own, Debian's PostgreSQL 15 on 127.0.0.1
# with fsync on as a real line's would be, its data in a folder under the work folder, run as
# nobody under root (the server refuses root).
#
#   start_postgres WORK    sets db_port; the schema is in the database morven, the role
#                          "station" may take values, and "lead" make counters
#   stop_postgres WORK     (when started)

postgres_bin=/usr/lib/postgresql/15/bin
as_server=()
[ "$(id -u)" -ne 0 ] || as_server=(runuser -u nobody --)

start_postgres() {
    local work="$1"
    mkdir "$work/pg"
    chmod 755 "$work"
    [ "$(id -u)" -ne 0 ] || chown nobody "$work/pg"
    db_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    "${as_server[@]}" "$postgres_bin/initdb" -D "$work/pg/db" -U postgres --auth=trust > /dev/null
    "${as_server[@]}" "$postgres_bin/pg_ctl" -D "$work/pg/db" -l "$work/pg/log" -w \
        -o "-c listen_addresses=127.0.0.1 -p $db_port -k $work/pg" start > /dev/null
    local psql=(psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$db_port" -U postgres)
    "${psql[@]}" -d postgres -c "CREATE DATABASE morven"
    "${psql[@]}" -d morven -f "$(dirname "${BASH_SOURCE[0]}")/../packaging/morven-line.sql"
    "${psql[@]}" -d morven -c "CREATE ROLE station LOGIN IN ROLE morven_station" \
        -c "CREATE ROLE lead LOGIN IN ROLE morven_lists"
}

stop_postgres() {
    [ ! -f "$1/pg/db/postmaster.pid" ] ||
        "${as_server[@]}" "$postgres_bin/pg_ctl" -D "$1/pg/db" -m fast -w stop > /dev/null
}
