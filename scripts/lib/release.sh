# shellcheck shell=bash disable=SC2034
# The release bundle, and the checks scripts/test makes of the product and the bundle.
# Source it after setup.sh; it defines functions and variables only.

# Signing, the throwaway certificates of the signing check, and the bundle.
FW_RELEASE_PACKAGES=(osslsigncode openssl zip unzip)

# The programs of the bundle: the updater and its read-only preflight. Each is signed
# with the name its version information gives it (FileDescription), which the elevation
# prompt shows, and carries the internal name an inventory tool lists.
FW_PROGRAMS=(fwupdate fwprobe)
declare -A FW_PROGRAM_DESCRIPTIONS=(
    [fwupdate]="NVMe SSD firmware updater"
    [fwprobe]="NVMe SSD firmware updater preflight (read-only)"
)
declare -A FW_PROGRAM_INTERNAL_NAMES=(
    [fwupdate]=KORVANEFWUpdateQZRX4C7
    [fwprobe]=KORVANEFWUpdateQZRX4C7Preflight
)

# The files SHA256SUMS lists, and the files of the bundle in the order the zip holds them.
FW_SUMMED_FILES=(fwupdate.exe fwupdate.debug fwprobe.exe fwprobe.debug)
FW_BUNDLE_FILES=("${FW_SUMMED_FILES[@]}" SHA256SUMS DEPLOYING.md)

# 2.6 MiB: the stripped .exe with its 2 MiB image and some room to grow.
FW_MAX_EXE_BYTES=2726297

FW_IMAGE_BYTES=2097152

# fw_project_version ROOT: the version of project() in the top CMakeLists.txt.
fw_project_version() {
    sed -n 's/^project(fwupdate VERSION \([0-9][0-9.]*\).*/\1/p' "$1/CMakeLists.txt"
}

# fw_source_epoch ROOT: the time the bundle's files carry: the commit's, so that the
# same commit gives the same zip; never before 1980, where zip's clock starts.
fw_source_epoch() {
    local epoch=${SOURCE_DATE_EPOCH:-}
    [ -n "$epoch" ] || epoch=$(git -C "$1" log -1 --format=%ct 2>/dev/null) || epoch=""
    [ -n "$epoch" ] || epoch=315532800
    [ "$epoch" -ge 315532800 ] || epoch=315532800
    echo "$epoch"
}

# fw_make_bundle STAGE ZIP EPOCH: STAGE holds both programs, their debug files and
# DEPLOYING.md; adds SHA256SUMS and writes ZIP. The same files give the same zip: fixed
# times, modes and order, and no extra fields (owners, extended times).
fw_make_bundle() {
    local stage=$1 zip=$2 epoch=$3 file
    (cd "$stage" && sha256sum "${FW_SUMMED_FILES[@]}" >SHA256SUMS) || return 1
    for file in "${FW_BUNDLE_FILES[@]}"; do
        [ -f "$stage/$file" ] || { echo "bundle: $file missing" >&2; return 1; }
        chmod 0644 "$stage/$file" && touch -d "@$epoch" "$stage/$file" || return 1
    done
    mkdir -p "$(dirname "$zip")" || return 1
    zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")
    rm -f "$zip"
    (cd "$stage" && TZ=UTC zip -X -q "$zip" "${FW_BUNDLE_FILES[@]}")
}

# fw_check_stripped EXE DEBUG: the .exe carries no debug information and fits its
# size; its debug link names DEBUG with DEBUG's CRC, so debuggers take that file and no
# other.
fw_check_stripped() {
    local exe=$1 debug=$2 size ok=0 sections tmp
    size=$(stat -c %s "$exe") || return 1
    echo "$(basename "$exe"): $size bytes (at most $FW_MAX_EXE_BYTES)"
    [ "$size" -le "$FW_MAX_EXE_BYTES" ] || { echo "  too large"; ok=1; }
    sections=$(x86_64-w64-mingw32-objdump -h "$exe") || return 1
    if grep -q ' \.debug_' <<<"$sections"; then
        echo "  still has debug sections:"
        grep ' \.debug_' <<<"$sections" | awk '{print "    " $2}'
        ok=1
    fi
    grep -q ' \.gnu_debuglink ' <<<"$sections" || { echo "  no debug link"; return 1; }
    tmp=$(mktemp -d) || return 1
    x86_64-w64-mingw32-objcopy --dump-section ".gnu_debuglink=$tmp/link" "$exe" "$tmp/copy" ||
        { rm -rf "$tmp"; return 1; }
    # The link: the file name, NUL, padding to four bytes, the CRC-32 (little-endian).
    local name crc expected length
    name=$(head -c "$(($(stat -c %s "$tmp/link") - 4))" "$tmp/link" | tr -d '\0')
    length=$(stat -c %s "$tmp/link")
    crc=$(tail -c 4 "$tmp/link" | od -An -tx4 --endian=little | tr -d ' ')
    # gzip's trailer carries the same CRC-32 of the data, little-endian.
    expected=$(gzip -c "$debug" | tail -c 8 | head -c 4 | od -An -tx4 --endian=little | tr -d ' ')
    rm -rf "$tmp"
    echo "debug link: $name, CRC $crc ($length bytes); $(basename "$debug") has CRC $expected"
    [ "$name" = "$(basename "$debug")" ] || { echo "  the link names $name"; ok=1; }
    [ "$crc" = "$expected" ] || { echo "  the CRC does not match $debug"; ok=1; }
    [ $ok -eq 0 ] && echo "stripped, and its debug link matches $(basename "$debug")"
    return $ok
}

# fw_check_image_section OBJDUMP NM BINARY SYMBOLS [SYMBOL BYTES]: the section of BINARY
# that holds the embedded image (found by the FirmwareImage symbol in SYMBOLS, or SYMBOL
# of BYTES bytes) is read-only.
fw_check_image_section() {
    local objdump=$1 nm=$2 binary=$3 symbols=$4 symbol=${5:-FirmwareImage}
    local bytes=${6:-$FW_IMAGE_BYTES} address start end found=0 ok=0
    address=$("$nm" "$symbols" | awk -v symbol="$symbol" '$3 == symbol { print $1; exit }')
    [ -n "$address" ] || { echo "$symbols: no $symbol symbol"; return 1; }
    start=$((16#$address))
    end=$((start + bytes))
    local name size vma flags
    while read -r name size vma flags; do
        # Sections that are not loaded (debug information) have no address of their own.
        [[ ",$flags," == *",ALLOC,"* ]] || continue
        [ $start -ge $((16#$vma)) ] && [ $end -le $((16#$vma + 16#$size)) ] || continue
        found=1
        echo "$(basename "$binary"): $symbol at 0x$address in $name ($flags)"
        if [[ ",$flags," != *",READONLY,"* ]]; then
            echo "  $name is writable"
            ok=1
        fi
    done < <("$objdump" -h "$binary" | awk '
        /^ *[0-9]+ / { name = $2; size = $3; vma = $4; getline; sub(/^ +/, ""); gsub(/, /, ",");
                       print name, size, vma, $0 }')
    [ $found -eq 1 ] || { echo "$(basename "$binary"): no section holds the image at 0x$address"; return 1; }
    return $ok
}

# fw_make_test_pki DIR: a throwaway certificate authority and a code-signing
# certificate it issued, made now and valid for two days: ca.pem, signer.pem,
# signer.key, signer-protected.key and signer.pfx (both with the password in
# pass.txt), and other-ca.pem, a second authority that issued nothing.
fw_make_test_pki() {
    local dir=$1
    mkdir -p "$dir" || return 1
    (
        cd "$dir" || exit 1
        set -e
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=fwupdate test CA" \
            -addext "basicConstraints=critical,CA:TRUE" \
            -addext "keyUsage=critical,keyCertSign,cRLSign" \
            -keyout ca.key -out ca.pem 2>/dev/null
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=fwupdate other CA" \
            -addext "basicConstraints=critical,CA:TRUE" \
            -addext "keyUsage=critical,keyCertSign,cRLSign" \
            -keyout other-ca.key -out other-ca.pem 2>/dev/null
        openssl req -newkey rsa:2048 -nodes -subj "/CN=fwupdate test signer/O=fwupdate tests" \
            -keyout signer.key -out signer.csr 2>/dev/null
        printf '%s\n' "basicConstraints=critical,CA:FALSE" \
            "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning" \
            "subjectKeyIdentifier=hash" "authorityKeyIdentifier=keyid" >signer.ext
        openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -set_serial 1 -days 2 \
            -extfile signer.ext -out signer.pem 2>/dev/null
        openssl rand -hex 16 >pass.txt
        openssl pkey -in signer.key -aes256 -passout file:pass.txt -out signer-protected.key
        openssl pkcs12 -export -inkey signer.key -in signer.pem -passout file:pass.txt \
            -out signer.pfx
    )
}

# fw_verify_signature EXE CA: osslsigncode finds a valid signature on EXE that chains
# to CA.
fw_verify_signature() {
    local log
    log=$(osslsigncode verify -CAfile "$2" -in "$1" 2>&1)
    local status=$?
    if [ $status -eq 0 ] && grep -q 'Signature verification: ok' <<<"$log"; then
        return 0
    fi
    printf '%s\n' "$log" | tail -n 5 | sed 's/^/    /'
    return 1
}

# fw_check_signed SIGNED UNSIGNED PROGRAM CA: SIGNED carries a signature that verifies
# against CA and names the program as FW_PROGRAM_DESCRIPTIONS does (the elevation prompt
# shows that name), and is UNSIGNED byte for byte once the signature is removed.
fw_check_signed() {
    local signed=$1 unsigned=$2 program=$3 ca=$4 description work ok=0
    if ! fw_verify_signature "$signed" "$ca"; then
        echo "$program.exe: the signature does not verify"
        return 1
    fi
    description=$(osslsigncode verify -CAfile "$ca" -in "$signed" 2>/dev/null |
        sed -n 's/^[[:space:]]*Text description: \(.*[^[:space:]]\)[[:space:]]*$/\1/p' | head -n 1)
    if [ "$description" != "${FW_PROGRAM_DESCRIPTIONS[$program]}" ]; then
        echo "$program.exe is signed as \"$description\", not \"${FW_PROGRAM_DESCRIPTIONS[$program]}\""
        ok=1
    fi
    work=$(mktemp -d) || return 1
    if ! osslsigncode remove-signature -in "$signed" -out "$work/unsigned.exe" >/dev/null 2>&1 ||
        ! cmp -s "$work/unsigned.exe" "$unsigned"; then
        echo "$program.exe without its signature is not $unsigned"
        ok=1
    fi
    rm -rf "$work"
    [ $ok -eq 0 ] &&
        echo "$program.exe: signed as \"$description\", and without the signature the build's byte for byte"
    return $ok
}

# fw_report_lines FILE: the lines of a run's report that the guide explains (the
# headers and verdicts; the times and the drives' own texts vary).
fw_report_lines() {
    sed -n '/^Start Time : /,$p' "$1" | tr -d '\r' |
        grep -E '^(Result Details : .*|\[No Disk\]|\[Final Result\]|\[Disk #1\]|Already have the latest firmware\.)$'
}

# Runs that give every verdict the report has: "name|expected exit code|scenario".
FW_GUIDE_RUNS=(
    'no-drive|1|{}'
    'activated-at-once|1602|{"disks": [{"attach": "inbox", "drive": {"activation": "immediate"}}]}'
    'needs-restart|1602|{"disks": [{"attach": "inbox"}]}'
    'up-to-date|4000|{"disks": [{"attach": "inbox", "drive": {"fr": "QZT3VKLA"}}]}'
    'failed|1|{"disks": [{"attach": "inbox", "drive": {"faults": {"download": {"chunk": 0, "fail": true}}}}]}'
    'rst-refused|1|{"controllers": [{"id": "rst0", "drives": {"4": {"faults": {"activate": {"returnCode": 7}}}}}], "disks": [{"attach": "rst", "controller": "rst0", "pathId": 4}]}'
)

# The drive each outcome word of the guide's verdict table stands for, as a scenario disk.
declare -A FW_VERDICT_DRIVES=(
    ['failed']='{"attach": "inbox", "drive": {"faults": {"download": {"chunk": 0, "fail": true}}}}'
    ['needs a restart']='{"attach": "inbox"}'
    ['up to date']='{"attach": "inbox", "drive": {"fr": "QZT3VKLA"}}'
)

# fw_check_verdict_rule GUIDE RUNNER WORK: every row of the guide's verdict table (drive
# outcomes in report order, and the exit code the guide gives them) run as a machine of
# those drives in that order; the runner must exit as the guide says. The rows must
# include a drive that needs a restart before one that is up to date.
fw_check_verdict_rule() {
    local guide=$1 runner=$2 work=$3 ok=0 rows=0 row outcomes code disks word actual
    local restart_first=0
    while IFS='|' read -r outcomes code; do
        rows=$((rows + 1))
        disks=""
        while IFS= read -r word; do
            [ -n "${FW_VERDICT_DRIVES[$word]+set}" ] ||
                { echo "the guide's verdict table names an outcome no machine has: $word"; return 1; }
            disks+="${disks:+, }${FW_VERDICT_DRIVES[$word]}"
        done < <(grep -o '`[^`]*`' <<<"$outcomes" | tr -d '`')
        [ "$outcomes" = '`needs a restart`, `up to date`' ] && restart_first=1
        row="$work/verdict-$rows"
        printf '{"disks": [%s]}\n' "$disks" >"$row.json"
        "$runner" --state "$row.state.json" "$row.json" </dev/null >"$row.txt" 2>&1
        actual=$(sed -n 's/.*"exitCode": *\([0-9]*\).*/\1/p' "$row.state.json" | head -n 1)
        if [ "$actual" != "$code" ]; then
            echo "verdict: $outcomes gives exit code ${actual:-none}; the guide says $code"
            ok=1
        fi
    done < <(sed -n 's/^| \(`[^|]*`\) | \([0-9]*\) |$/\1|\2/p' "$guide")
    if [ $rows -eq 0 ] || [ $restart_first -eq 0 ]; then
        echo "the guide has no verdict table with a drive that needs a restart before one up to date"
        return 1
    fi
    [ $ok -eq 0 ] && echo "the guide's verdict rule holds for its $rows orders of drives"
    return $ok
}

# fw_run RUNNER BASE ARG...: one run of RUNNER (fwupdate-sim or fwprobe-sim) with its
# output in BASE.txt. Prints the program's whole exit code as the state file gives it
# (the runner's own status is that code modulo 256), or nothing when the run left none.
fw_run() {
    local runner=$1 base=$2
    shift 2
    rm -f "$base.state.json"
    "$runner" --state "$base.state.json" "$@" </dev/null >"$base.txt" 2>&1
    [ -f "$base.state.json" ] &&
        sed -n 's/.*"exitCode": *\([0-9]*\).*/\1/p' "$base.state.json" | head -n 1
}

# The PC each row of the guide's table of the preflight's verdicts stands for, by the
# row's words. The guide must keep a row for each: together they hold a PC of every
# prediction, a driver and a drive the updater fails at, and a PC where the preflight
# says 0 and the update still fails, which is what a 0 cannot promise.
declare -A FW_PREFLIGHT_MACHINES=(
    ['a drive at `QZT2VKLA` whose driver answers the firmware information request']='{"disks": [{"attach": "inbox"}]}'
    ['a drive that needs the update and one already up to date']='{"disks": [{"attach": "inbox"}, {"attach": "inbox", "drive": {"fr": "QZT3VKLA"}}]}'
    ['every drive already at `QZT3VKLA`']='{"disks": [{"attach": "inbox", "drive": {"fr": "QZT3VKLA"}}]}'
    ["a drive on Windows' own NVMe driver whose driver refuses the updater's firmware information request"]='{"disks": [{"attach": "inbox", "drive": {"firmwareRequests": "public-form-only"}}]}'
    ['a drive behind Intel RST whose slot 2 is read-only']='{"controllers": [{"id": "rst0", "drives": {"4": {"slots": [{"number": 1, "readOnly": true}, {"number": 2, "readOnly": true}, {"number": 3}]}}}], "disks": [{"attach": "rst", "controller": "rst0", "pathId": 4}]}'
    ['an Intel RST RAID volume whose members the controller does not list, and no other drive']='{"controllers": [{"id": "rst0", "raidSets": [[0, 1]], "faults": {"raidConfig": "fail"}}], "disks": [{"attach": "raid-volume", "controller": "rst0"}]}'
    ['no drive of this model']='{}'
    ['a drive whose driver answers the firmware information request but refuses the download']='{"disks": [{"attach": "inbox", "drive": {"faults": {"download": {"chunk": 0, "returnCode": 4}}}}]}'
)

# Preflight runs for the verdicts the table does not reach: "name|exit code|scenario".
FW_PREFLIGHT_RUNS=(
    'info-failed|1|{"disks": [{"attach": "inbox", "drive": {"faults": {"firmwareInfo": "fail"}}}]}'
    'info-short|1|{"disks": [{"attach": "inbox", "drive": {"faults": {"firmwareInfo": {"returned": 16}}}}]}'
    'no-upgrade|1|{"disks": [{"attach": "inbox", "drive": {"upgradeSupport": false}}]}'
    'no-writable-slot|1|{"disks": [{"attach": "inbox", "drive": {"slots": [{"number": 1, "readOnly": true}]}}]}'
    'rst-no-slot-2|1|{"controllers": [{"id": "rst0", "drives": {"4": {"slots": [{"number": 1, "readOnly": true}, {"number": 3}]}}}], "disks": [{"attach": "rst", "controller": "rst0", "pathId": 4}]}'
)

# fw_guide_section GUIDE TITLE: the lines of one "## TITLE" section of the guide.
fw_guide_section() {
    awk -v title="## $2" '/^## / { on = ($0 == title) } on' "$1"
}

# fw_preflight_rows GUIDE: the rows of the table of the preflight's verdicts (the one
# under the header "| the PC | ..."), as "situation|preflight code|updater code".
fw_preflight_rows() {
    fw_guide_section "$1" "Before you deploy" |
        awk '/^\| the PC \|/ { table = 1; next } table && !/^\|/ { table = 0 } table' |
        sed -n 's/^| \(.*\) | \([0-9]*\) | \([0-9]*\) |$/\1|\2|\3/p'
}

# fw_probe_report_lines FILE: the lines of a preflight report the guide explains, with
# a driver's status as N and a Windows error as 0x..., as the guide writes them.
fw_probe_report_lines() {
    tr -d '\r' <"$1" |
        grep -E '^(\[Final Result\]|\[Disk #1\]|\[RAID Volume #1\]|Preflight Result : .*|Verdict : .*|Members : none.*)$' |
        sed -E 's/\(status [0-9]+\)$/(status N)/; s/\(error 0x[0-9a-f]+\)$/(error 0x...)/'
}

# fw_check_preflight GUIDE PROBE RUNNER WORK: every row of the guide's table of the
# preflight's verdicts, run as the machine FW_PREFLIGHT_MACHINES gives its words through
# the preflight and the updater, ends with the two exit codes the guide gives it; and
# "Before you deploy" explains every exit code, verdict and result line the preflight
# gives in those runs, in FW_PREFLIGHT_RUNS and with an argument it does not take.
fw_check_preflight() {
    local guide=$1 probe=$2 runner=$3 work=$4 ok=0 rows=0
    local situation want_probe want_update got_probe got_update base missing=()
    local -A seen=()
    fw_guide_section "$guide" "Before you deploy" >"$work/before.md"
    while IFS='|' read -r situation want_probe want_update; do
        rows=$((rows + 1))
        if [ -z "${FW_PREFLIGHT_MACHINES[$situation]+set}" ]; then
            echo "the guide's preflight table names a PC no machine stands for: $situation"
            ok=1
            continue
        fi
        seen[$situation]=1
        base=$work/preflight-$rows
        printf '%s\n' "${FW_PREFLIGHT_MACHINES[$situation]}" >"$base.json"
        got_probe=$(fw_run "$probe" "$base.probe" "$base.json")
        got_update=$(fw_run "$runner" "$base.update" "$base.json")
        if [ "$got_probe" != "$want_probe" ] || [ "$got_update" != "$want_update" ]; then
            echo "preflight table: $situation: fwprobe.exe ${got_probe:-none}, fwupdate.exe ${got_update:-none}; the guide says $want_probe and $want_update"
            ok=1
        fi
    done < <(fw_preflight_rows "$guide")
    if [ $rows -eq 0 ]; then
        echo "\"Before you deploy\" has no table of the preflight's verdicts (header \"| the PC |\")"
        ok=1
    else
        while IFS= read -r situation; do
            [ -n "${seen[$situation]+set}" ] ||
                { echo "the guide's preflight table has no row: $situation"; ok=1; }
        done < <(printf '%s\n' "${!FW_PREFLIGHT_MACHINES[@]}" | sort)
    fi

    local run name code scenario actual line output
    for run in "${FW_PREFLIGHT_RUNS[@]}" 'argument|2|{}'; do
        IFS='|' read -r name code scenario <<<"$run"
        base=$work/preflight-$name
        printf '%s\n' "$scenario" >"$base.json"
        if [ "$name" = argument ]; then
            actual=$(fw_run "$probe" "$base.probe" "$base.json" -- --bogus)
        else
            actual=$(fw_run "$probe" "$base.probe" "$base.json")
        fi
        if [ "$actual" != "$code" ]; then
            echo "preflight run $name: exit code ${actual:-none}, expected $code"
            ok=1
        fi
    done

    # Every preflight run above: its exit code in the section's table of them, its report
    # lines (and, refused, everything it printed) quoted in the section.
    for output in "$work"/preflight-*.probe.txt; do
        name=$(basename "$output" .probe.txt)
        actual=$(sed -n 's/.*"exitCode": *\([0-9]*\).*/\1/p' "${output%.txt}.state.json" | head -n 1)
        grep -q "^| $actual |" "$work/before.md" || missing+=("exit code $actual ($name)")
        while IFS= read -r line; do
            grep -qF -- "\`$line\`" "$work/before.md" || missing+=("$line ($name)")
        done < <(fw_probe_report_lines "$output"
            [ "$name" != preflight-argument ] || tr -d '\r' <"$output")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "\"Before you deploy\" does not explain:"
        printf '  %s\n' "${missing[@]}" | sort -u
        ok=1
    fi
    [ $ok -eq 0 ] && echo "the guide's preflight table holds for its $rows PCs through both programs, and it explains every code and line of the preflight"
    return $ok
}

# fw_check_bundle ZIP GUIDE RUNNER PROBE WORK: the zip holds exactly the files the
# guide's table names, SHA256SUMS matches them, the guide is the tree's, every exit code
# and report line the runner gives (for FW_GUIDE_RUNS, the default machine and an
# argument) is explained in the guide, and the guide's verdict tables of the updater
# and of the preflight (PROBE, the preflight's runner) hold. WORK is a scratch directory.
fw_check_bundle() {
    local zip=$1 guide=$2 runner=$3 probe=$4 work=$5 ok=0 listed expected named
    rm -rf "$work" && mkdir -p "$work/unpacked" || return 1
    [ -f "$zip" ] || { echo "no $zip"; return 1; }
    expected=$(printf '%s\n' "${FW_BUNDLE_FILES[@]}" | sort)
    listed=$(unzip -Z1 "$zip" | sort)
    [ "$listed" = "$expected" ] || { echo "$zip holds: $(tr '\n' ' ' <<<"$listed")"; ok=1; }
    named=$(awk '/^## / { on = ($0 == "## What the bundle holds") } on' "$guide" |
        sed -n "s/^| \`\([^\`]*\)\` |.*/\1/p" | sort)
    [ "$named" = "$expected" ] || { echo "the guide's table names: $(tr '\n' ' ' <<<"$named")"; ok=1; }

    unzip -q "$zip" -d "$work/unpacked" || return 1
    if ! (cd "$work/unpacked" && sha256sum --strict --quiet -c SHA256SUMS); then
        echo "SHA256SUMS does not match the files"
        ok=1
    fi
    [ "$(awk '{printf "%s ", $2}' "$work/unpacked/SHA256SUMS")" = "$(printf '%s ' "${FW_SUMMED_FILES[@]}")" ] ||
        { echo "SHA256SUMS lists: $(awk '{printf "%s ", $2}' "$work/unpacked/SHA256SUMS")"; ok=1; }
    cmp -s "$work/unpacked/DEPLOYING.md" "$guide" || { echo "DEPLOYING.md is not $guide"; ok=1; }

    local run name code scenario actual line missing=()
    for run in "${FW_GUIDE_RUNS[@]}" 'default-machine|1602|' 'argument|1|-'; do
        IFS='|' read -r name code scenario <<<"$run"
        local args=(--state "$work/$name.state.json")
        case "$scenario" in
        "") ;;
        -) args+=("$work/no-drive.json" -- /s) ;;
        *) printf '%s\n' "$scenario" >"$work/$name.json" && args+=("$work/$name.json") ;;
        esac
        "$runner" "${args[@]}" </dev/null >"$work/$name.txt" 2>&1
        actual=$(sed -n 's/.*"exitCode": *\([0-9]*\).*/\1/p' "$work/$name.state.json" | head -n 1)
        if [ "$actual" != "$code" ]; then
            echo "run $name: exit code ${actual:-none}, expected $code"
            ok=1
        fi
        grep -q "^| $actual |" "$guide" || missing+=("exit code $actual ($name)")
        while IFS= read -r line; do
            grep -qF -- "\`$line\`" "$guide" || missing+=("$line ($name)")
        done < <(fw_report_lines "$work/$name.txt"; [ "$name" != argument ] || tr -d '\r' <"$work/$name.txt")
    done
    fw_check_verdict_rule "$guide" "$runner" "$work" || ok=1
    fw_check_preflight "$guide" "$probe" "$runner" "$work" || ok=1
    if [ ${#missing[@]} -gt 0 ]; then
        echo "the guide does not explain:"
        printf '  %s\n' "${missing[@]}" | sort -u
        ok=1
    fi
    [ $ok -eq 0 ] && echo "$(basename "$zip"): ${FW_BUNDLE_FILES[*]}; sums match; the guide explains every exit code and report line of ${#FW_GUIDE_RUNS[@]} + 2 runs"
    return $ok
}
