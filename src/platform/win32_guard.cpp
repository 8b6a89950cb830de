// A guarded call of foreign code in our own process. The program has no C
// runtime and GCC has no __try, so the guard is a structured exception frame
// of its own: on x86 a record on the fs:[0] chain, as every Windows since NT
// 3.1 dispatches; on x64, where handlers are found through unwind tables, a
// language handler attached to the guarding function. Either way a fault is
// unwound (the foreign code's own termination handlers run, so a lock it
// holds is let go) and the call ends at the point it was entered from.
#include "win32.h"

namespace {

struct Guard {
#if defined(__i386__)
    // Must come first: the handler is given its address.
    struct Registration {
        Registration* next;
        void* handler;
    } registration;
#endif
    void* resume[5]; // __builtin_setjmp's buffer
    DWORD code;
    Guard* outer;
};

// The program has one thread; guards nest through `outer`.
Guard* innermost;

__attribute__((noreturn)) void Resume() {
    __builtin_longjmp(innermost->resume, 1);
}

#if defined(__i386__)

extern "C" EXCEPTION_DISPOSITION __cdecl VkGuardHandler(EXCEPTION_RECORD* record, void* frame,
                                                        CONTEXT*, void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    innermost->code = record->ExceptionCode;
    ::RtlUnwind(frame, (void*)&Resume, record, 0);
    Resume();
}

#elif defined(__x86_64__)

extern "C" EXCEPTION_DISPOSITION VkGuardHandler(EXCEPTION_RECORD* record, void* frame,
                                                CONTEXT* context, DISPATCHER_CONTEXT* dispatcher) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    innermost->code = record->ExceptionCode;
    ::RtlUnwindEx(frame, (void*)&Resume, record, 0, context, dispatcher->HistoryTable);
    Resume();
}

#endif

} // namespace

namespace Win {

DWORD WINAPI CallGuarded(GUARDED_CALL call, LPVOID argument) {
    Guard guard;
    guard.code = 0;
    guard.outer = innermost;
    innermost = &guard;
#if defined(__i386__)
    guard.registration.handler = (void*)&VkGuardHandler;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(guard.registration.next));
    Guard::Registration* record = &guard.registration;
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(record) : "memory");
#elif defined(__x86_64__)
    __asm__ __volatile__(".seh_handler VkGuardHandler, @except");
#endif
    if (__builtin_setjmp(guard.resume) == 0)
        call(argument);
#if defined(__i386__)
    // Whatever the foreign code left on the chain went with its frames.
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(guard.registration.next) : "memory");
#endif
    innermost = guard.outer;
    return guard.code;
}

} // namespace Win
