// Loads a .ape the way the AVS host does: the library, its one export,
// the module name, and effects made by its factory.
#pragma once

#include "plugin/effect_base.h"
#include "plugin/host_effect.h"

#include <memory>
#include <string>

typedef HostEffect* (*CreateEffectFunction)(char* description);
typedef int (*RetrFunction)(HINSTANCE instance, char** identifierOut, CreateEffectFunction* factoryOut);

class LoadedPlugin {
public:
    LoadedPlugin() = default;
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    // False with a reason when the file is no plug-in of this kind.
    bool load(const char* path, std::string& error);

    EffectBase* createEffect() const;
    HMODULE module() const { return module_; }
    const char* identifier() const { return identifier_; }
    const std::string& moduleName() const { return moduleName_; }

private:
    HMODULE module_ = nullptr;
    char* identifier_ = nullptr;
    CreateEffectFunction factory_ = nullptr;
    std::string moduleName_;
};

// Loads the plug-in at `path` into `plugin` and makes one effect; null with
// a reason when either fails.
std::unique_ptr<EffectBase> loadEffect(const char* path, LoadedPlugin& plugin, std::string& error);
