#include "renderer/interpreter_sandbox.h"

#include "renderer/syscall_filter.h"

namespace orvalis::renderer {

std::optional<InterpreterSandbox> InterpreterSandbox::Prepare(const KernelProtections& kernel,
                                                              const InterpreterPaths& paths,
                                                              std::string* error) {
  InterpreterSandbox sandbox;
  sandbox.confinement_.emptyNetwork = kernel.networkNamespace;
  if (kernel.LandlockFiles()) {
    sandbox.ruleset_ = BuildLandlockRuleset(kernel.landlockAbi, paths, error);
    if (!sandbox.ruleset_.IsOpen()) return std::nullopt;
    sandbox.confinement_.landlockRuleset = sandbox.ruleset_.Get();
    sandbox.confinement_.procSelfAccess = ReadAccess(kernel.landlockAbi);
  }
  if (kernel.syscallFilter) {
    const SyscallFilter* filter = InterpreterSyscallFilter(kernel.LandlockScopes(), error);
    if (filter == nullptr) return std::nullopt;
    sandbox.confinement_.syscallFilter = &filter->program;
  }
  return sandbox;
}

}  // namespace orvalis::renderer
