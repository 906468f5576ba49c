# Sourced by scripts that need an OpenSSH server on 127.0.0.1, with its keys and configuration in
# their work folder: nothing in ~/.ssh or /etc/ssh is read or touched.
#
#   start_loopback_sshd WORK PATH_FIRST
#
# starts /usr/sbin/sshd in the background, whose logins find PATH_FIRST first on their PATH and
# keep their write records under WORK/remote-state, and sets ssh_port and MORVEN_SSH_COMMAND
# (exported) for clients. The caller stops it with its other background jobs.
start_loopback_sshd() {
    local work="$1" path_first="$2"
    ssh_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    local key
    for key in host user; do ssh-keygen -q -t ed25519 -N "" -f "$work/${key}_key"; done
    cp "$work/user_key.pub" "$work/authorized_keys"
    cat > "$work/sshd_config" <<CONFIG
Port $ssh_port
ListenAddress 127.0.0.1
HostKey $work/host_key
PidFile $work/sshd.pid
AuthorizedKeysFile $work/authorized_keys
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PermitRootLogin yes
SetEnv PATH=$path_first:/usr/local/bin:/usr/bin:/bin XDG_STATE_HOME=$work/remote-state
LogLevel ERROR
CONFIG
    echo "loopback-sshd $(cut -d' ' -f1,2 "$work/host_key.pub")" > "$work/known_hosts"
    cat > "$work/ssh_config" <<CONFIG
Host *
  User $(id -un)
  IdentityFile $work/user_key
  IdentitiesOnly yes
  IdentityAgent none
  UserKnownHostsFile $work/known_hosts
  GlobalKnownHostsFile /dev/null
  HostKeyAlias loopback-sshd
  Port $ssh_port
  LogLevel ERROR
CONFIG
    # Its privilege separation folder, which a machine that never ran the service lacks.
    [ "$(id -u)" -ne 0 ] || mkdir -p /run/sshd
    /usr/sbin/sshd -D -e -f "$work/sshd_config" &
    local tries
    for tries in $(seq 250); do
        grep -qi "0100007F:$(printf '%04X' "$ssh_port") 00000000:0000 0A" /proc/net/tcp && break
        sleep 0.02
    done
    export MORVEN_SSH_COMMAND="ssh -F $work/ssh_config"
}
