/* The blocks on the process's heaps, walked as a debugger walks them: the
   bytes in use, to find leaks, and the blocks one call made, so that the
   host can take that memory back once the plug-in has freed it. */
#ifndef WINHOST_HEAP_BLOCKS_H
#define WINHOST_HEAP_BLOCKS_H

#include <windows.h>

typedef struct HeapBlock {
    HANDLE heap;
    void* data;
    SIZE_T size;
} HeapBlock;

/* Bytes in use on every heap of the process. */
unsigned long long heapInUse(void);

/* Calls make(context) and finds the blocks it allocated and still holds;
   returns how many, of which the first `capacity` go to `made`. */
int blocksMadeBy(void (*make)(void* context), void* context, HeapBlock* made, int capacity);

/* Once the plug-in has freed `block`, allocates the free stretch of its
   heap that holds it and fills that with `pattern`; the memory stays the
   host's. Returns 1 when the block now lies in memory the host filled. */
int takeBackBlock(const HeapBlock* block, unsigned char pattern);

#endif
