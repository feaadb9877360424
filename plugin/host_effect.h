// The object the host receives from createEffect. Natively it is the
// effect itself. The Windows host was built with the Microsoft compiler and
// calls through a table laid out its way, so there the effect is wrapped.
#pragma once

class EffectBase;

#ifdef _WIN32
struct HostEffect;
HostEffect* toHostEffect(EffectBase* effect); // null when out of memory; the effect is then deleted
#else
using HostEffect = EffectBase;
inline HostEffect* toHostEffect(EffectBase* effect) { return effect; }
#endif
