# SPDX-License-Identifier: Apache-2.0
# The freeze checks inside the guest, sourced by guest-test.sh once the multipath map mpatha
# over src-b exists: ext4 on the map, `kysnap snap --freeze` of it while the array holds the
# create, a writer that must wait for the thaw, the record's consistency, and a filesystem
# that takes writes again afterwards.
FREEZE_MNT=/mnt/freeze
FREEZE_DEV=/dev/mapper/mpatha

# ext4_loads: loads ext4 and what it needs, in the order run-vm-test.sh wrote.
ext4_loads() {
    local m
    grep -qw ext4 /proc/filesystems && return 0
    while read -r m; do
        [ -n "$m" ] && insmod "/lib/modules/$(uname -r)/kernel/$m.ko" 2>/dev/null
    done </test/ext4-modules
    grep -qw ext4 /proc/filesystems
}
# done_within SECONDS FILE: whether FILE appears within SECONDS (in tenths).
done_within() {
    local n=0
    while [ "$n" -lt $(($1 * 10)) ]; do
        [ -e "$2" ] && return 0
        sleep 0.1
        n=$((n + 1))
    done
    return 1
}
# no_pending_fault: the array has taken every injected fault ({"faults": []}).
no_pending_fault() {
    curl -s --max-time 10 --cacert "$SIM_CA" "https://127.0.0.1:$SIM_PORT/control/faults" |
        tr -d ' \t\n' | grep -q '"faults":\[\]'
}

freeze_checks() {
    local id status
    if ! command -v mkfs.ext4 >/dev/null || ! ext4_loads; then
        fail "freeze: ext4 and mkfs.ext4 are in the guest (see /test/ext4-modules)"
        return
    fi
    ok "freeze: the ext4 module loads"
    check "freeze: mkfs.ext4 on $FREEZE_DEV" mkfs.ext4 -q -F -O ^metadata_csum "$FREEZE_DEV"
    mkdir -p "$FREEZE_MNT"
    check "freeze: ext4 mounted on $FREEZE_MNT" mount -t ext4 "$FREEZE_DEV" "$FREEZE_MNT" || return
    echo before >"$FREEZE_MNT/before"
    check "freeze: kysnap prepare $FREEZE_DEV" kysnap prepare "$FREEZE_DEV"
    # The array holds the create 6 s: the filesystem is frozen all that time.
    sim_control faults '{"method": "createSnapshots", "action": "latency", "ms": 6000}'
    rm -f /tmp/freeze.writer /tmp/freeze.status
    (kysnap snap --freeze "$FREEZE_MNT" "$FREEZE_DEV" >/tmp/freeze.out 2>&1
        echo $? >/tmp/freeze.status) &
    settle 20 no_pending_fault
    (echo during >"$FREEZE_MNT/during" && touch /tmp/freeze.writer) &
    want "freeze: a writer waits while the array creates the snapshot" '! done_within 1 /tmp/freeze.writer'
    done_within 30 /tmp/freeze.status
    status=$(cat /tmp/freeze.status 2>/dev/null)
    cp /tmp/freeze.out /tmp/check.out
    want "freeze: kysnap snap --freeze $FREEZE_MNT exits 0 (exit $status)" '[ "$status" = 0 ]' ||
        sed 's/^/    /' /tmp/freeze.out
    want "freeze: the writer went on after the thaw" 'done_within 5 /tmp/freeze.writer'
    want "freeze: kysnap saw $FREEZE_MNT on the snapped device (no warning)" \
        '! grep -q "warning" /tmp/freeze.out'
    id=$(snapshot_id)
    want "freeze: the record of $id says filesystem-frozen" \
        'kysnap list --json | tr -d " \n" | grep -q "\"name\":\"$id\".*\"consistency\":\"filesystem-frozen\""'
    rm -f /tmp/freeze.after
    (echo after >"$FREEZE_MNT/after" && sync && touch /tmp/freeze.after) &
    want "freeze: the filesystem takes writes after the run" 'done_within 5 /tmp/freeze.after'
    want "freeze: what was written during the freeze is there" \
        '[ "$(cat $FREEZE_MNT/during 2>/dev/null)" = during ]'
    check "freeze: kysnap delete $id" kysnap delete "$id"
    check "freeze: $FREEZE_MNT unmounts" umount "$FREEZE_MNT"
}

freeze_checks
