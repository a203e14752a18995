#pragma once
// The kernel's confinement of one rendering's interpreter, on top of -dSAFER: Landlock over
// its files (and TCP, abstract sockets and signals where the kernel's Landlock knows them), a
// seccomp filter over its system calls, an empty network namespace, and no new privileges.
// Each part the kernel offers is used; what it lacks is left out, and said by
// DescribeProtections.

#include <optional>
#include <string>

#include "platform/file_descriptor.h"
#include "renderer/child_process.h"
#include "renderer/kernel_protections.h"
#include "renderer/landlock_rules.h"

namespace orvalis::renderer {

class InterpreterSandbox {
 public:
  // The confinement for a rendering of `paths` with what `kernel` offers; nullopt, with the
  // reason in `error`, when a part the kernel offers cannot be prepared.
  static std::optional<InterpreterSandbox> Prepare(const KernelProtections& kernel,
                                                   const InterpreterPaths& paths,
                                                   std::string* error);

  // For the SpawnRequest; valid while this object lives.
  const Confinement& ForChild() const { return confinement_; }

 private:
  FileDescriptor ruleset_;
  Confinement confinement_;
};

}  // namespace orvalis::renderer
