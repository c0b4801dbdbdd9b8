# Sourced by the kits' load-fault checks: the four faults a host's loader
# must tell apart, each in a folder of its own under DIR, for a process of
# the edition whose DLL and io.dll come first:
#   missing-dll/  nothing
#   missing-io/   Zelbin_Serial.dll alone
#   wrong-dll/    the other edition's Zelbin_Serial.dll, with this edition's io.dll
#   wrong-io/     this edition's Zelbin_Serial.dll, with the other edition's io.dll
# tests/kits/check-load-faults.py holds what each message must say.
# Usage: fault_folders DIR THIS_DLL THIS_IO OTHER_DLL OTHER_IO
fault_folders() {
    local dir="$1"
    rm -rf "$dir"
    mkdir -p "$dir/missing-dll" "$dir/missing-io" "$dir/wrong-dll" "$dir/wrong-io"
    cp "$2" "$dir/missing-io/Zelbin_Serial.dll"
    cp "$4" "$dir/wrong-dll/Zelbin_Serial.dll"
    cp "$3" "$dir/wrong-dll/io.dll"
    cp "$2" "$dir/wrong-io/Zelbin_Serial.dll"
    cp "$5" "$dir/wrong-io/io.dll"
}
FAULTS=(missing-dll missing-io wrong-dll wrong-io)
