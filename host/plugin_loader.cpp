#include "host/plugin_loader.h"

LoadedPlugin::~LoadedPlugin()
{
    if (module_)
        FreeLibrary(module_);
}

bool LoadedPlugin::load(const char* path, std::string& error)
{
    module_ = LoadLibraryA(path);
    if (!module_) {
        error = std::string("cannot load ") + path;
        return false;
    }
    auto retr = reinterpret_cast<RetrFunction>(GetProcAddress(module_, "_AVS_APE_RetrFunc"));
    if (!retr) {
        error = std::string(path) + " does not export _AVS_APE_RetrFunc";
        return false;
    }
    if (retr(module_, &identifier_, &factory_) != 1 || !identifier_ || !factory_) {
        error = std::string(path) + " refused to register";
        return false;
    }
    // The host's description buffer; the module name needs 23 bytes.
    char description[1024] = {};
    if (factory_(description) != nullptr) {
        error = "createEffect made an effect when asked for its name";
        return false;
    }
    moduleName_ = description;
    return true;
}

EffectBase* LoadedPlugin::createEffect() const { return factory_ ? factory_(nullptr) : nullptr; }

std::unique_ptr<EffectBase> loadEffect(const char* path, LoadedPlugin& plugin, std::string& error)
{
    if (!plugin.load(path, error))
        return nullptr;
    std::unique_ptr<EffectBase> effect(plugin.createEffect());
    if (!effect)
        error = "the plug-in made no effect";
    return effect;
}
