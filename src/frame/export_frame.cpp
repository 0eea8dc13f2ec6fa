#include "frame/export_frame.h"

#include "frame/build_form.h"
#include "resources/resource.h"

namespace tarnvale {
namespace {

// The activation context made from the library's manifest (resource 2),
// created on first use and released when the library is unloaded.
class ManifestActivationContext {
public:
    ~ManifestActivationContext() {
        if (context_ != INVALID_HANDLE_VALUE) ReleaseActCtx(context_);
    }

    HANDLE get(HMODULE module) noexcept {
        if (!tried_) {
            tried_ = true;
            ACTCTXA request = {};
            request.cbSize = sizeof(request);
            request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
            request.hModule = module;
            request.lpResourceName = MAKEINTRESOURCEA(IDR_LIBRARY_MANIFEST);
            context_ = CreateActCtxA(&request);
        }
        return context_;
    }

private:
    HANDLE context_ = INVALID_HANDLE_VALUE;
    bool tried_ = false;
};

ManifestActivationContext g_activationContext;

}  // namespace

ExportFrame::ExportFrame() noexcept {
    ModuleState& library = LibraryModuleState();
    previous_ = SetCurrentModuleState(&library);
    if constexpr (!kCompactForm) {
        HANDLE context = g_activationContext.get(library.instance);
        if (context != INVALID_HANDLE_VALUE) {
            activated_ = ActivateActCtx(context, &activationCookie_) != FALSE;
        }
    }
}

ExportFrame::~ExportFrame() {
    if (activated_) DeactivateActCtx(0, activationCookie_);
    SetCurrentModuleState(previous_);
}

}  // namespace tarnvale
