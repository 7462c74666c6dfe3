#!/usr/bin/env bash
# Fails when the code of a 32-bit module holds an instruction the 80386 lacks, the 486's
# additions and everything from the Pentium on. Usage: check-i386.sh MODULE [OBJDUMP]
set -euo pipefail
module=$1
objdump=${2:-i686-w64-mingw32-objdump}

[ -s "$module" ] || { echo "no module at $module"; exit 1; }
listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
# One line per instruction, however long: no continuation lines of raw bytes.
"$objdump" -d --insn-width=16 "$module" >"$listing" || { echo "$objdump failed on $module"; exit 1; }
grep -q 'file format pei-i386' "$listing" || { echo "$module is not a 32-bit PE image"; exit 1; }

awk -F'\t' '
  # Mnemonics the 80386 does not have. 486: bswap, xadd, cmpxchg, invd, wbinvd, invlpg.
  # Pentium: cmpxchg8b, cpuid, rdtsc, rdmsr, wrmsr, rsm. Pentium Pro: cmovcc, fcmovcc, fcomi,
  # fucomi, rdpmc, ud2. Later: sysenter/syscall, the SSE fences, state saves and hints,
  # the bit-manipulation and other extensions.
  BEGIN {
    bad = "^(bswap|xadd|cmpxchg.*|invd|wbinvd|invlpg.*|cpuid|rdtscp?|rdmsr|wrmsr|rsm|rdpmc" \
          "|cmov.*|fcmov.*|f(u)?comip?|ud[012]|sysenter|sysexit|syscall|sysret.*|emms|femms" \
          "|prefetch.*|[lms]fence|clflush.*|clwb|movnti|[ls]tmxcsr|fxsave.*|fxrstor.*|xsave.*" \
          "|xrstor.*|xgetbv|xsetbv|monitor|mwait|fisttp.*|popcnt|lzcnt|tzcnt|movbe|crc32.*" \
          "|andn|bextr|bls(i|r|msk)|bzhi|pdep|pext|rorx|sarx|shlx|shrx|adcx|adox|mulx" \
          "|rdrand|rdseed|rdpid|endbr32|endbr64|xbegin|xend|xabort|xtest|clac|stac|vm.*)$"
    prefix = "^(lock|rep|repz|repe|repnz|repne|cs|ds|es|fs|gs|ss|addr16|notrack|bnd)$"
  }
  $1 ~ /^ *[0-9a-f]+:$/ && NF >= 3 {
    count++
    text = $3
    sub(/^ +/, "", text)
    n = split(text, word, " ")
    i = 1
    while (i < n && word[i] ~ prefix) i++
    mnemonic = word[i]
    why = ""
    if (mnemonic ~ bad) why = "not on the 80386"
    # Only the constructor lists sit in the code section as data: their -1 sentinels decode
    # as single bytes 0xff. Anything else undecodable is not code the 386 can run either.
    else if (mnemonic == "(bad)" && $2 !~ /^ff *$/) why = "undecodable"
    # Padding of the Pentium Pro on (0f 1f, hint nops) and stacked operand-size prefixes; the
    # 386 pads with 90, 66 90 and lea of a register to itself.
    else if (mnemonic ~ /^nop[wl]?$/ && i < n) why = "multi-byte nop"
    else if (text ~ /(^| )data16( |$)/) why = "stacked operand-size prefixes"
    else if (text ~ /%[xyz]?mm[0-9]/ || text ~ /%k[0-7]/) why = "MMX or SSE register"
    if (why != "") {
      faults++
      print "  " $1 " " $2 " " text "   <- " why
    }
  }
  END {
    printf "%d instructions read, %d the 80386 lacks\n", count, faults
    if (count == 0) { print "no instructions: empty disassembly"; exit 1 }
    exit faults > 0
  }' "$listing"
