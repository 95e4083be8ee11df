# SPDX-License-Identifier: Apache-2.0
# The array's side of the guest's bus (sourced by guest-test.sh, run in the background).
#
# Once a second it asks the simulator which LUNs are mapped to the guest's initiator
# (POST /control/hostview) and makes LIO follow: a clone newly mapped becomes a LIO LUN on
# two paths (and, with WATCH_MULTIPATH set, a dm-multipath map over them once the host has
# found both, as multipathd would); a mapping that went is withdrawn from the initiators; a
# withdrawn LUN is removed once the host holds no path of it any more.

watch_hostview() {
    curl -s --max-time 5 --cacert "$SIM_CA" -X POST -H 'Content-Type: application/json' \
        -d "{\"initiators\": [\"$GUEST_IQN\"]}" "https://127.0.0.1:$SIM_PORT/control/hostview"
}

# "LUNID LUN" per mapped LUN of the host view.
watch_mapped() {
    tr -d ' \t\n' | tr '{}' '\n\n' | sed -n 's/.*"luId": *"\([0-9A-Fa-f]*\)".*"lun": *\([0-9]*\).*/\1 \2/p;
                         s/.*"lun": *\([0-9]*\).*"luId": *"\([0-9A-Fa-f]*\)".*/\2 \1/p'
}

watch_once() {
    local view id lun state
    view=$(watch_hostview) || return
    mkdir -p /run/watch
    echo "$view" | watch_mapped | while read -r id lun; do
        case " $STATIC_LUNS " in *" $id "*) continue ;; esac
        [ -e "/run/watch/$id" ] && continue
        if lio_backstore "c$id" "$id" && lio_present "c$id" $((lun + 1)); then
            echo "$lun presented" >"/run/watch/$id"
            echo "watcher: clone $id mapped as LUN $lun" >>/run/watch.log
        else
            echo "watcher: cannot present clone $id as LUN $lun" >>/run/watch.log
        fi
    done
    for state in /run/watch/*; do
        [ -e "$state" ] || continue
        id=${state##*/}
        read -r lun how <"$state"
        if [ "$how" = presented ]; then
            if ! echo "$view" | grep -q "\"$id\""; then
                lio_withdraw $((lun + 1))
                echo "$lun withdrawn" >"$state"
                echo "watcher: clone $id unmapped, LUN $lun withdrawn" >>/run/watch.log
            elif [ -n "$WATCH_MULTIPATH" ] && [ -z "$(maps_of "$id")" ] &&
                [ "$(paths_of "$id" | wc -l)" -ge 2 ]; then
                multipath_create "mpc$lun" "$id" >>/run/watch.log 2>&1 && dmsetup mknodes
            fi
        elif [ -z "$(paths_of "$id")" ] && [ -z "$(maps_of "$id")" ]; then
            echo "watcher: the host dropped clone $id, removing LUN $lun" >>/run/watch.log
            lio_remove "c$id" $((lun + 1))
            rm -f "$state"
            echo "watcher: clone $id removed" >>/run/watch.log
        fi
    done
}

watch_loop() {
    while [ ! -e /run/watch.stop ]; do
        watch_once
        sleep 1
    done
}
