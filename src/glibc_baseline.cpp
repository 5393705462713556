// Lets the Linux library and the native Linux programs load on every glibc from 2.17 on,
// though they are built against a newer one.
//
// The linker binds each function to the newest version the build machine's glibc has, and
// the static C++ runtime brings in calls of its own: glibc 2.34 moved the pthread functions
// from libpthread into libc under a new version, libstdc++ asks for pthread_cond_clockwait
// (2.30), __libc_single_threaded (2.32), getentropy (2.25) and arc4random (2.36). A glibc
// older than any version asked for refuses to load the library at all. So the build wraps
// those names (-Wl,--wrap=NAME, see cmake/glibc_baseline.cmake): every call goes to
// __wrap_NAME, defined here, which either calls the old version of the same function, as
// every glibc since 2.2.5 still carries it, or does the work itself with calls that old
// glibc has. scripts/check-so.sh fails on any import newer than GLIBC_2.17.
//
// x86_64 only: the jumps below are written in its assembly. SORLINX_PROGRAM: built into a
// program rather than the library.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

// __wrap_NAME jumps to NAME@GLIBC_2.2.5: the same function under the version that glibc
// gave it first, which it keeps for old programs. Before glibc 2.34 it lives in
// libpthread.so.0, which the library therefore names among its needed libraries.
#define SORLINX_OLD_VERSION(name)                 \
  __asm__(                                        \
      ".pushsection .text\n"                      \
      ".symver sorlinx_old_" #name ", " #name     \
      "@GLIBC_2.2.5\n"                            \
      ".globl __wrap_" #name                      \
      "\n"                                        \
      ".hidden __wrap_" #name                     \
      "\n"                                        \
      ".type __wrap_" #name                       \
      ", @function\n"                             \
      "__wrap_" #name                             \
      ":\n"                                       \
      "\tjmp sorlinx_old_" #name                  \
      "@PLT\n"                                    \
      ".size __wrap_" #name ", . - __wrap_" #name \
      "\n"                                        \
      ".popsection\n")

SORLINX_OLD_VERSION(pthread_create);
SORLINX_OLD_VERSION(pthread_detach);
SORLINX_OLD_VERSION(pthread_join);
SORLINX_OLD_VERSION(pthread_once);
SORLINX_OLD_VERSION(pthread_key_create);
SORLINX_OLD_VERSION(__pthread_key_create);
SORLINX_OLD_VERSION(pthread_key_delete);
SORLINX_OLD_VERSION(pthread_getspecific);
SORLINX_OLD_VERSION(pthread_setspecific);
SORLINX_OLD_VERSION(pthread_rwlock_rdlock);
SORLINX_OLD_VERSION(pthread_rwlock_wrlock);
SORLINX_OLD_VERSION(pthread_rwlock_unlock);
SORLINX_OLD_VERSION(pthread_sigmask);

#ifdef SORLINX_PROGRAM
// glibc 2.29 and 2.35 renewed these (for their error reporting, which the programs never
// read); the first versions compute the same.
SORLINX_OLD_VERSION(pow);
SORLINX_OLD_VERSION(exp);
SORLINX_OLD_VERSION(log);
SORLINX_OLD_VERSION(hypot);
#endif

extern "C" {

#ifdef SORLINX_PROGRAM
// A program starts through __libc_start_main, which glibc 2.34 renewed when it took over
// running the program's constructors. Its first version, which every glibc keeps, leaves
// them to the function it is handed, as glibc's own __libc_csu_init did before 2.34: the
// program's _init, then its init array. (The dynamic linker runs the preinit array, and
// the destructors at exit, on every glibc.)
using InitFunction = void (*)(int, char**, char**);
extern InitFunction __init_array_start[] __attribute__((visibility("hidden")));  // NOLINT
extern InitFunction __init_array_end[] __attribute__((visibility("hidden")));    // NOLINT
void _init() __attribute__((visibility("hidden")));                              // NOLINT

static void runConstructors(int argc, char** argv, char** environment) {
  _init();
  for (InitFunction* constructor = __init_array_start; constructor != __init_array_end;
       ++constructor) {
    (*constructor)(argc, argv, environment);
  }
}

// Before glibc 2.33 the stat functions were no functions of the library but inline
// wrappers of __xstat and its kin, which every glibc still has; 1 is x86_64's version of
// struct stat for them.
constexpr int STAT_VERSION = 1;
int sorlinx_old_xstat(int version, const char* path, struct stat* status);
int sorlinx_old_lxstat(int version, const char* path, struct stat* status);
int sorlinx_old_fxstat(int version, int file, struct stat* status);
__asm__(".symver sorlinx_old_xstat, __xstat@GLIBC_2.2.5");
__asm__(".symver sorlinx_old_lxstat, __lxstat@GLIBC_2.2.5");
__asm__(".symver sorlinx_old_fxstat, __fxstat@GLIBC_2.2.5");

__attribute__((visibility("hidden"))) int __wrap_stat(const char* path,  // NOLINT
                                                      struct stat* status) {
  return sorlinx_old_xstat(STAT_VERSION, path, status);
}
__attribute__((visibility("hidden"))) int __wrap_lstat(const char* path,  // NOLINT
                                                       struct stat* status) {
  return sorlinx_old_lxstat(STAT_VERSION, path, status);
}
__attribute__((visibility("hidden"))) int __wrap_fstat(int file, struct stat* status) {  // NOLINT
  return sorlinx_old_fxstat(STAT_VERSION, file, status);
}
__attribute__((visibility("hidden"))) int __wrap_fstat64(int file,  // NOLINT
                                                         struct stat* status) {
  return sorlinx_old_fxstat(STAT_VERSION, file, status);  // the same on x86_64
}

using MainFunction = int (*)(int, char**, char**);
int sorlinx_old_libc_start_main(MainFunction main, int argc, char** argv, InitFunction init,
                                void (*fini)(), void (*rtldFini)(), void* stackEnd);
__asm__(".symver sorlinx_old_libc_start_main, __libc_start_main@GLIBC_2.2.5");

__attribute__((visibility("hidden"))) int __wrap___libc_start_main(  // NOLINT
    MainFunction main, int argc, char** argv, InitFunction /*init*/, void (* /*fini*/)(),
    void (*rtldFini)(), void* stackEnd) {
  return sorlinx_old_libc_start_main(main, argc, argv, runConstructors, nullptr, rtldFini,
                                     stackEnd);
}
#endif

// libstdc++ skips its atomic reference counts while this says that the process has one
// thread. Saying "several" always is right in every process, at the cost of a locked
// instruction here and there.
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;  // NOLINT

// std::condition_variable waits on the steady clock through pthread_cond_clockwait. Older
// glibc waits on the wall clock only: wait as long as is left on the requested clock, none
// when the deadline has passed. The caller checks its own clock on waking and waits again
// when it woke early; a wall clock set back during the wait lengthens that one wait.
__attribute__((visibility("hidden"))) int __wrap_pthread_cond_clockwait(  // NOLINT
    pthread_cond_t* condition, pthread_mutex_t* mutex, clockid_t clock,
    const struct timespec* deadline) {
  constexpr long NANOSECONDS = 1'000'000'000;
  timespec now{};
  if (clock_gettime(clock, &now) != 0) {
    return EINVAL;
  }
  long long seconds = deadline->tv_sec - now.tv_sec;
  long nanoseconds = deadline->tv_nsec - now.tv_nsec;
  if (nanoseconds < 0) {
    nanoseconds += NANOSECONDS;
    --seconds;
  }
  if (seconds < 0) {
    // Past: wait all the same, which lets go of the mutex for a moment, as every condition
    // wait does; returning at once would let a caller that loops keep the mutex for good.
    seconds = 0;
    nanoseconds = 0;
  }
  timespec wall{};
  clock_gettime(CLOCK_REALTIME, &wall);
  wall.tv_sec += static_cast<time_t>(seconds);
  wall.tv_nsec += nanoseconds;
  if (wall.tv_nsec >= NANOSECONDS) {
    wall.tv_nsec -= NANOSECONDS;
    ++wall.tv_sec;
  }
  return pthread_cond_timedwait(condition, mutex, &wall);
}

// std::random_device's sources, which the library never uses but the C++ runtime links
// in: the kernel's random device, as every glibc can read it.
__attribute__((visibility("hidden"))) int __wrap_getentropy(void* buffer,  // NOLINT
                                                            size_t length) {
  constexpr size_t LARGEST = 256;  // getentropy's own limit
  if (length > LARGEST) {
    errno = EIO;
    return -1;
  }
  const int device = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (device < 0) {
    return -1;
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t got = 0;
  while (got < length) {
    const ssize_t read = ::read(device, bytes + got, length - got);
    if (read <= 0 && errno != EINTR) {
      close(device);
      errno = EIO;
      return -1;
    }
    got += read > 0 ? static_cast<size_t>(read) : 0;
  }
  close(device);
  return 0;
}

__attribute__((visibility("hidden"))) unsigned int __wrap_arc4random() {  // NOLINT
  unsigned int value = 0;
  if (__wrap_getentropy(&value, sizeof value) != 0) {
    std::abort();  // as glibc's own does when it finds no randomness
  }
  return value;
}

}  // extern "C"
