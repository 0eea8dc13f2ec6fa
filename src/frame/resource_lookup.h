// Texts and dialog templates by ID: first from the current resource source
// (a null source is the host executable), then from the resource chain.
#pragma once

#include <windows.h>

#include <string>

namespace tarnvale {

// Loads string `id` into `text`. Returns false, leaving `text` as it was,
// when no source holds it.
bool LoadResourceString(UINT id, std::string& text);

// The text of string `id`, empty when no source holds it.
std::string ResourceString(UINT id);

struct DialogTemplate {
    const DLGTEMPLATE* data = nullptr;
    HINSTANCE module = nullptr;  // the module that holds it
    explicit operator bool() const noexcept { return data != nullptr; }
};

DialogTemplate FindDialogTemplate(UINT id);

}  // namespace tarnvale
