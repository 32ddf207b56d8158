/* switch.cpp -- the switch between the stacks of two user-mode threads:
 * a few instructions for x86-64 (System V) and AArch64, and a portable
 * switch for every other processor (ucontext to enter a new stack once,
 * _setjmp/_longjmp for every switch after that). */

/* The checked longjmp of _FORTIFY_SOURCE refuses a jump to another stack. */
#undef _FORTIFY_SOURCE

#include "posix_internal.h"

#include <setjmp.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <ucontext.h>

int portable_switch = !HAVE_NATIVE_SWITCH;

int native_switch_available(void) { return HAVE_NATIVE_SWITCH; }

#if HAVE_NATIVE_SWITCH && defined(__x86_64__)
/* quombax_switch_stacks(&from->sp, to->sp): pushes the registers that a
 * call preserves on the running stack, keeps that stack's pointer, loads
 * the other one and pops the same from it. A new stack is laid out as if it
 * had switched away at the start of its entry procedure. The SSE and x87
 * control words are not switched (loading them costs more than the rest):
 * all user-mode threads of a kernel thread share them, and the program
 * never changes them. */
asm(R"(
    .text
    .globl quombax_switch_stacks
    .hidden quombax_switch_stacks
    .type quombax_switch_stacks, @function
    .p2align 4
quombax_switch_stacks:
    pushq %rbp
    pushq %rbx
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    movq %rsp, (%rdi)
    movq %rsi, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rbx
    popq %rbp
    ret
    .size quombax_switch_stacks, .-quombax_switch_stacks
)");
#define SAVED_WORDS 6   /* six registers */
#elif HAVE_NATIVE_SWITCH && defined(__aarch64__)
/* The same for AArch64: x19 to x30 and d8 to d15, 160 bytes (FPCR is shared). */
asm(R"(
    .text
    .globl quombax_switch_stacks
    .hidden quombax_switch_stacks
    .type quombax_switch_stacks, %function
    .p2align 4
quombax_switch_stacks:
    sub sp, sp, #160
    stp x19, x20, [sp, #0]
    stp x21, x22, [sp, #16]
    stp x23, x24, [sp, #32]
    stp x25, x26, [sp, #48]
    stp x27, x28, [sp, #64]
    stp x29, x30, [sp, #80]
    stp d8, d9, [sp, #96]
    stp d10, d11, [sp, #112]
    stp d12, d13, [sp, #128]
    stp d14, d15, [sp, #144]
    mov x2, sp
    str x2, [x0]
    mov sp, x1
    ldp x19, x20, [sp, #0]
    ldp x21, x22, [sp, #16]
    ldp x23, x24, [sp, #32]
    ldp x25, x26, [sp, #48]
    ldp x27, x28, [sp, #64]
    ldp x29, x30, [sp, #80]
    ldp d8, d9, [sp, #96]
    ldp d10, d11, [sp, #112]
    ldp d12, d13, [sp, #128]
    ldp d14, d15, [sp, #144]
    add sp, sp, #160
    ret
    .size quombax_switch_stacks, .-quombax_switch_stacks
)");
#define SAVED_WORDS 20
#endif

#if HAVE_NATIVE_SWITCH
static void prepare_native(SwitchContext *context, char *stack, size_t size, void (*entry)(void)) {
    uintptr_t top = ((uintptr_t)(stack + size)) & ~(uintptr_t)15;
    void **sp = (void **)top;
#if defined(__x86_64__)
    *--sp = 0;               /* the entry's return address: it never returns */
    *--sp = (void *)entry;   /* where the first switch returns to */
    sp -= SAVED_WORDS;
    memset(sp, 0, SAVED_WORDS * sizeof *sp);
#else
    sp -= SAVED_WORDS;
    memset(sp, 0, SAVED_WORDS * sizeof *sp);
    sp[11] = (void *)entry;  /* x30: where the first switch returns to */
#endif
    context->sp = sp;
}
#endif

/* The portable switch: a new stack is entered once through ucontext; its
 * first procedure keeps its place with _setjmp and jumps back at once. */
static SwitchContext *entering;
static void (*entering_entry)(void);
static jmp_buf *entering_back;

static void portable_first_procedure(void) {
    SwitchContext *context = entering;
    void (*entry)(void) = entering_entry;
    if (_setjmp(context->env) == 0) _longjmp(*entering_back, 1);
    entry();
    abort(); /* the entry procedure switches away for good, never returns */
}

static void prepare_portable(SwitchContext *context, char *stack, size_t size, void (*entry)(void)) {
    ucontext_t here, there;
    getcontext(&there);
    there.uc_stack.ss_sp = stack;
    there.uc_stack.ss_size = size;
    there.uc_link = 0;
    makecontext(&there, portable_first_procedure, 0);
    jmp_buf back;
    entering = context;
    entering_entry = entry;
    entering_back = &back;
    if (_setjmp(back) == 0) swapcontext(&here, &there);
}

void context_prepare(SwitchContext *context, char *stack, size_t size, void (*entry)(void)) {
#if HAVE_NATIVE_SWITCH
    if (!portable_switch) {
        prepare_native(context, stack, size, entry);
        return;
    }
#endif
    prepare_portable(context, stack, size, entry);
}

void portable_context_switch(SwitchContext *from, SwitchContext *to) {
    if (_setjmp(from->env) == 0) _longjmp(to->env, 1);
}
