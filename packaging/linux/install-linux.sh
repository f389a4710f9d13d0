#!/usr/bin/env bash
# Installs Quillet system-wide on Linux (run as root from a build tree):
#
#   /opt/quillet/                  root:root 0755  quillet-desktop, quillet-servicectl, quillet-vpn-service
#   /opt/quillet/bin/sing-box      root:root 0755  the engine (not built here: see README, "The engine")
#   /opt/quillet/logs/             root:quillet 0750  service.log and sing-box.log (root:quillet 0640), capped at 4 MiB
#   /var/lib/quillet/              root:quillet 0750  the shared data directory
#   /var/lib/quillet/configs/      root:quillet 2770  the client writes active.json here (setgid: files stay in group quillet)
#   /var/lib/quillet/runtime/      root:root 0700  the engine's working folder: only the service reads and writes it
#   /etc/systemd/system/quillet-vpn.service, /etc/polkit-1/rules.d/50-quillet-vpn.rules
#
# Users who may connect join the group "quillet" (pass their names as arguments).
# The service runs only configurations made of the engine objects and keys it
# knows (see README, "What the service runs"), so a member of the group cannot
# turn the root service against the machine.
#
# usage: sudo packaging/linux/install-linux.sh BUILD_DIR [USER...]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${1:?usage: install-linux.sh BUILD_DIR [USER...]}"
shift
if [ "$(id -u)" -ne 0 ]; then
  echo "install-linux.sh must run as root" >&2
  exit 1
fi

getent group quillet >/dev/null || groupadd --system quillet
for user in "$@"; do usermod -aG quillet "$user"; done

install -d -o root -g root -m 0755 /opt/quillet /opt/quillet/bin
install -d -o root -g quillet -m 0750 /opt/quillet/logs
for log in /opt/quillet/logs/service.log /opt/quillet/logs/sing-box.log; do
  if [ -f "$log" ] && [ ! -L "$log" ]; then chown root:quillet "$log"; chmod 0640 "$log"; fi
done
for program in quillet-desktop quillet-servicectl quillet-vpn-service; do
  install -o root -g root -m 0755 "$build/bin/$program" "/opt/quillet/$program"
done
if [ -x "$build/bin/bin/sing-box" ]; then
  install -o root -g root -m 0755 "$build/bin/bin/sing-box" /opt/quillet/bin/sing-box
elif [ ! -x /opt/quillet/bin/sing-box ]; then
  echo "note: no engine installed; put sing-box at /opt/quillet/bin/sing-box (root:root 0755)" >&2
fi

install -d -o root -g quillet -m 0750 /var/lib/quillet
install -d -o root -g quillet -m 2770 /var/lib/quillet/configs
# A link in place of runtime/ would send the engine's writes elsewhere: replace it.
if [ -L /var/lib/quillet/runtime ]; then rm -f /var/lib/quillet/runtime; fi
install -d -o root -g root -m 0700 /var/lib/quillet/runtime

install -o root -g root -m 0644 "$here/quillet-vpn.service" /etc/systemd/system/quillet-vpn.service
install -d -o root -g root -m 0755 /etc/polkit-1/rules.d
install -o root -g root -m 0644 "$here/50-quillet-vpn.rules" /etc/polkit-1/rules.d/50-quillet-vpn.rules
systemctl daemon-reload
echo "installed; group members control the service with: /opt/quillet/quillet-servicectl query|start|stop QuilletVpnService"
