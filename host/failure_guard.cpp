// The failure guard around the one mode of a run. A structured exception raised inside is
// offered to the system's unhandled-exception filter; when the filter lets the program handle
// it, the frames above the guard are unwound, the system is told that no saver runs any more,
// and the command ends with kGuardedFailure.
#include "host.h"

#if defined(__i386__)

// The exception-registration record of the 32-bit platform, linked into the chain at fs:[0],
// with the stack position from which the guarded call returns after a handled failure.
struct GuardRecord {
  GuardRecord *next;
  void *handler;
  uintptr_t resumeStack;
  int32_t failed;  // set once a failure has been handled
};

extern "C" {
// The one guard of the process; the asm below reaches it after RtlUnwind, which leaves no
// callee-saved register intact.
GuardRecord *gActiveGuard;
int GuardedCall(GuardRecord *record, int (*body)(const char *), const char *text);
void UnwindToGuard(GuardRecord *record, EXCEPTION_RECORD *exception);
int GuardHandler(EXCEPTION_RECORD *exception, void *frame, CONTEXT *context, void *dispatcher);
}

// GuardedCall(record, body, text): links record into the chain, calls body(text) and unlinks
// it again. A handled failure re-enters at GuardResume with the stack as it was after the four
// pushes.
// UnwindToGuard(record, exception): runs the unwind handlers of every frame above the guard,
// then resumes the guarded call; it never returns to the exception dispatcher.
asm(R"(
    .text
    .globl _GuardedCall
_GuardedCall:
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 20(%esp), %eax
    movl %esp, 8(%eax)
    movl %fs:0, %edx
    movl %edx, (%eax)
    movl %eax, %fs:0
    pushl 28(%esp)
    call *28(%esp)
    addl $4, %esp
GuardResume:
    movl 20(%esp), %ecx
    movl (%ecx), %edx
    movl %edx, %fs:0
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

    .globl _UnwindToGuard
_UnwindToGuard:
    movl 4(%esp), %eax
    movl 8(%esp), %ecx
    pushl $0
    pushl %ecx
    pushl $UnwoundToGuard
    pushl %eax
    call *__imp__RtlUnwind@16
UnwoundToGuard:
    movl _gActiveGuard, %ecx
    movl 8(%ecx), %esp
    movl $1, 12(%ecx)
    movl $-1, %eax
    jmp GuardResume
)");

int GuardHandler(EXCEPTION_RECORD *exception, void *frame, CONTEXT *context, void *) {
  // Unwinding passes through here too; there is nothing of ours to clean up.
  if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
    return ExceptionContinueSearch;
  EXCEPTION_POINTERS pointers = {exception, context};
  switch (UnhandledExceptionFilter(&pointers)) {
    case EXCEPTION_CONTINUE_EXECUTION:
      return ExceptionContinueExecution;
    case EXCEPTION_EXECUTE_HANDLER:
      UnwindToGuard(static_cast<GuardRecord *>(frame), exception);
      return ExceptionContinueSearch;  // not reached
    default:
      return ExceptionContinueSearch;
  }
}

int RunGuarded(int (*body)(const char *), const char *text) {
  GuardRecord record = {NULL, reinterpret_cast<void *>(GuardHandler), 0, 0};
  gActiveGuard = &record;
  int result = GuardedCall(&record, body, text);
  gActiveGuard = NULL;
  if (!record.failed) return result;
  SetSaverRunningFlag(FALSE);
  return kGuardedFailure;
}

#else

// The 64-bit build only carries the test programs; it runs the body without a guard.
int RunGuarded(int (*body)(const char *), const char *text) {
  return body(text);
}

#endif
