// Linked into the program in sanitizer builds only. A process in secure
// execution (setgid, file capabilities) is not dumpable, so the leak checker
// cannot stop its threads and would fail the run; nor can it read its options
// from the environment then. Such runs skip the leak check; all others keep it.
#include <sys/auxv.h>

int __lsan_is_turned_off(void);

int __lsan_is_turned_off(void) {
    return getauxval(AT_SECURE) != 0;
}
