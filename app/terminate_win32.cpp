// What the program does when the language runtime has to end it (an exception that nothing
// catches, where nothing may leave): end, at once. The runtime's default handler prints the
// exception's demangled type to the standard error stream first, which a windowed program does
// not have; its demangler and formatted printing are a sixth of the program's code. Defined here,
// the runtime's own definition is never linked.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler();

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
