// How the Windows program ends when the C++ runtime fails: it aborts.
//
// The program catches no exception, so whatever the runtime throws (out of
// memory, a string grown past its largest size) ends in std::terminate and
// then abort. The runtime's own code for that path made up more than a third
// of the stripped program: its default terminate handler names the exception
// on standard error, which a GUI program does not have, and brings a
// demangler and a printf; its throw helpers bring every standard exception
// class with the old string type and std::random_device. The linker keeps
// every function of each runtime object it takes (their unwind tables hold
// on to them), so none of that could be collected. The definitions here
// replace the runtime's terminate handler and every throw helper of the
// object that holds them, so that the linker takes neither, whichever of the
// helpers the program comes to use. Should that object come back all the
// same, the link fails with a second definition instead of growing quietly.
#include <cstdlib>
#include <exception>
#include <new>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_exception() { std::abort(); }
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_bad_cast() { std::abort(); }
void __throw_bad_typeid() { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_domain_error(const char*) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_runtime_error(const char*) { std::abort(); }
void __throw_range_error(const char*) { std::abort(); }
void __throw_overflow_error(const char*) { std::abort(); }
void __throw_underflow_error(const char*) { std::abort(); }

}  // namespace std
