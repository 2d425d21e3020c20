# order.dll: a small win32 DLL whose export tables list the functions in three
# different orders (by address, by ordinal, by name), with decorated names of
# every kind, a relative-jump thunk and a forwarder. Every function starts at
# a multiple of 16 from 0x10001000 (the .text section at RVA 0x1000):
#
#   RVA     function         exported as                 ordinal
#   0x1000  lead             -                           -
#   0x1010  FuncA            _Sleep@4                    4
#   0x1020  FuncB            ?Run@CFoo@@QAEHXZ           6
#   0x1030  FuncC            Export1                     1
#   0x1040  Thunk            Jumper (jumps to 0x1070)    5
#   0x1050  FuncD            ??0CFoo@@QAE@ABV0@@Z        7
#   0x1060  FuncE            ??1CFoo@@QAE@XZ             3
#   0x1070  Target           -
#   0x1080  FuncF            _main                       2
#   0x1090  DllEntry         - (the entry point)
#   -       -                Forward (kernel32.GetTickCount) 8
#
# Build (see README): make-order.sh
        .text
        .balign 16
lead:   xorl %eax, %eax
        ret
        .balign 16
        .globl _FuncA
_FuncA: movl $1, %eax
        ret $4
        .balign 16
        .globl _FuncB
_FuncB: movl $2, %eax
        ret
        .balign 16
        .globl _FuncC
_FuncC: movl $3, %eax
        ret
        .balign 16
        .globl _Thunk
_Thunk: .byte 0xE9
        .long Target - . - 4
        .balign 16
        .globl _FuncD
_FuncD: movl $4, %eax
        ret
        .balign 16
        .globl _FuncE
_FuncE: movl $5, %eax
        ret
        .balign 16
Target: movl $6, %eax
        ret
        .balign 16
        .globl _FuncF
_FuncF: movl $7, %eax
        ret
        .balign 16
        .globl _DllEntry@12
_DllEntry@12:
        movl $1, %eax
        ret $12
        .balign 16

        .section .rdata,"dr"
        .balign 16
        .globl _Table
_Table: .ascii "not code: an address here is outside the code range\0"
