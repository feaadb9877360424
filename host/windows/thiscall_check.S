/* unsigned __cdecl callSlotChecked(Effect* effect, int slot, const unsigned* args,
                                    int count, int* imbalance)
   Pushes args[count-1] .. args[0], loads the object into ECX and calls
   table[slot], then measures how far the stack pointer is from where the
   caller left it: a __thiscall callee pops exactly its arguments. */
    .text
    .globl _callSlotChecked
    .def _callSlotChecked; .scl 2; .type 32; .endef
_callSlotChecked:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl %esp, %ebx          /* the stack as it must be after the call */
    movl 16(%ebp), %esi      /* args */
    movl 20(%ebp), %ecx      /* count */
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  movl 8(%ebp), %ecx       /* this */
    movl (%ecx), %eax        /* table */
    movl 12(%ebp), %edx      /* slot */
    call *(%eax,%edx,4)
    movl %ebx, %edx
    subl %esp, %edx          /* bytes left on the stack */
    movl %ebx, %esp
    movl 24(%ebp), %ecx
    movl %edx, (%ecx)
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
