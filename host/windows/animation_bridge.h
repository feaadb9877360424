/* The stand-in hosts' built-in animation, for the C host. */
#ifndef WINHOST_ANIMATION_BRIDGE_H
#define WINHOST_ANIMATION_BRIDGE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Frame `number` as width x height 32-bit pixels, top row first. */
void renderAnimation(uint32_t* pixels, int width, int height, uint32_t number);

#ifdef __cplusplus
}
#endif

#endif
