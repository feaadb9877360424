#include "host/windows/animation_bridge.h"

#include "host/animation.h"

extern "C" void renderAnimation(uint32_t* pixels, int width, int height, uint32_t number)
{
    renderAnimationFrame(pixels, width, height, number);
}
