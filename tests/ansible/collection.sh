# Sourced by the collection's tests: builds tarvanix.devices with ansible-galaxy as a user
# would and installs it into a folder of the test's own, with Ansible's state kept there too.
#   install_collection WORKDIR     sets ANSIBLE_COLLECTIONS_PATH, HOME and ANSIBLE_* for the test
install_collection() {
    local work="$1" src
    src="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../ansible" && pwd)"
    mkdir -p "$work/home" "$work/collections" "$work/dist"
    ansible-galaxy collection build "$src" --output-path "$work/dist" >"$work/build.log" 2>&1 \
        || { cat "$work/build.log" >&2; echo "ansible-galaxy collection build failed" >&2; return 1; }
    ansible-galaxy collection install -p "$work/collections" "$work"/dist/tarvanix-devices-*.tar.gz \
        >>"$work/build.log" 2>&1 \
        || { cat "$work/build.log" >&2; echo "ansible-galaxy collection install failed" >&2; return 1; }
    export HOME="$work/home" ANSIBLE_COLLECTIONS_PATH="$work/collections" ANSIBLE_LOCAL_TEMP="$work/home/tmp"
    export ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0 ANSIBLE_RETRY_FILES_ENABLED=0
    unset ANSIBLE_CONFIG
}

need_ansible() {
    local tool
    for tool in ansible-playbook ansible-galaxy ansible-doc; do
        command -v "$tool" >/dev/null || {
            echo "SKIP: $tool is missing (Debian's ansible-core, listed in scripts/debian-packages)"
            exit 77
        }
    done
}
