#include "renderer/syscall_filter.h"

#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/file_descriptor.h"

namespace orvalis::renderer {

namespace {

struct ContextDeleter {
  void operator()(void* context) const { seccomp_release(context); }
};
using FilterContext = std::unique_ptr<void, ContextDeleter>;

// Calls that reach other processes, the kernel's wider surface, or out of the sandbox.
constexpr int kDenied[] = {__NR_ptrace,
                           __NR_process_vm_readv,
                           __NR_process_vm_writev,
                           __NR_kcmp,
                           __NR_pidfd_open,
                           __NR_pidfd_getfd,
                           __NR_unshare,
                           __NR_setns,
                           __NR_mount,
                           __NR_umount2,
                           __NR_pivot_root,
                           __NR_chroot,
                           __NR_open_tree,
                           __NR_move_mount,
                           __NR_fsopen,
                           __NR_fsconfig,
                           __NR_fsmount,
                           __NR_fspick,
                           __NR_mount_setattr,
                           __NR_setsid,
                           __NR_setpgid,
                           __NR_io_uring_setup,
                           __NR_io_uring_enter,
                           __NR_io_uring_register,
                           __NR_bpf,
                           __NR_perf_event_open,
                           __NR_userfaultfd,
                           __NR_add_key,
                           __NR_request_key,
                           __NR_keyctl,
                           __NR_syslog,
                           __NR_quotactl,
                           __NR_name_to_handle_at,
                           // A program held in memory, or named by a descriptor, is out of
                           // Landlock's sight: programs run only by a name it can judge.
                           __NR_memfd_create,
                           __NR_memfd_secret,
                           __NR_execveat};
// Signals to anyone but the caller's own process group, where Landlock cannot keep them in.
constexpr int kSignalsElsewhere[] = {__NR_tkill, __NR_tgkill, __NR_rt_sigqueueinfo,
                                     __NR_rt_tgsigqueueinfo, __NR_pidfd_send_signal};
// Namespaces a new process could be given.
constexpr unsigned long kNamespaceFlags[] = {CLONE_NEWNS,    CLONE_NEWUSER, CLONE_NEWPID,
                                             CLONE_NEWNET,   CLONE_NEWUTS,  CLONE_NEWIPC,
                                             CLONE_NEWCGROUP};

bool AddRules(void* context, bool signalsScoped) {
  const uint32_t eperm = SCMP_ACT_ERRNO(EPERM);
  const uint32_t eacces = SCMP_ACT_ERRNO(EACCES);
  bool ok = true;
  for (const int call : kDenied) ok = ok && seccomp_rule_add(context, eperm, call, 0) == 0;
  ok = ok && seccomp_rule_add(context, eacces, __NR_socket, 0) == 0 &&
       seccomp_rule_add(context, eacces, __NR_socketpair, 1, SCMP_A0(SCMP_CMP_NE, AF_UNIX)) == 0;
  for (const unsigned long flag : kNamespaceFlags) {
    ok = ok && seccomp_rule_add(context, eperm, __NR_clone, 1,
                                SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
  }
  // clone3 passes its flags in memory a filter cannot read: C libraries fall back to clone.
  ok = ok && seccomp_rule_add(context, SCMP_ACT_ERRNO(ENOSYS), __NR_clone3, 0) == 0;
  for (const unsigned long request : {TIOCSTI, TIOCLINUX}) {
    ok = ok && seccomp_rule_add(context, eperm, __NR_ioctl, 1,
                                SCMP_A1(SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, request)) == 0;
  }
  if (!signalsScoped) {
    ok = ok && seccomp_rule_add(context, eperm, __NR_kill, 1, SCMP_A0(SCMP_CMP_NE, 0)) == 0;
    for (const int call : kSignalsElsewhere)
      ok = ok && seccomp_rule_add(context, eperm, call, 0) == 0;
  }
  return ok;
}

// The filter as the BPF program libseccomp writes for it.
std::unique_ptr<SyscallFilter> Export(void* context) {
  const FileDescriptor memory(::memfd_create("seccomp-filter", MFD_CLOEXEC));
  if (!memory.IsOpen() || seccomp_export_bpf(context, memory.Get()) != 0) return nullptr;
  const off_t size = ::lseek(memory.Get(), 0, SEEK_END);
  const size_t count = static_cast<size_t>(size) / sizeof(sock_filter);
  if (size <= 0 || size % sizeof(sock_filter) != 0 || count > BPF_MAXINSNS) return nullptr;
  auto filter = std::make_unique<SyscallFilter>();
  filter->instructions.resize(count);
  if (::pread(memory.Get(), filter->instructions.data(), static_cast<size_t>(size), 0) != size)
    return nullptr;
  filter->program = {static_cast<unsigned short>(count), filter->instructions.data()};
  return filter;
}

std::unique_ptr<const SyscallFilter> Build(bool signalsScoped) {
  const FilterContext context(seccomp_init(SCMP_ACT_ALLOW));
  if (!context || !AddRules(context.get(), signalsScoped)) return nullptr;
  return Export(context.get());
}

}  // namespace

const SyscallFilter* InterpreterSyscallFilter(bool signalsScoped, std::string* error) {
  static const std::unique_ptr<const SyscallFilter> filters[2] = {Build(false), Build(true)};
  const SyscallFilter* filter = filters[signalsScoped ? 1 : 0].get();
  if (filter == nullptr) *error = "libseccomp cannot build the interpreter's system-call filter";
  return filter;
}

}  // namespace orvalis::renderer
