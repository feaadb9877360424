#include "host/windows/heap_blocks.h"

#include <stdlib.h>
#include <string.h>

#define MAX_HEAPS 64
#define MAX_TAKEN 64

typedef void (*BusyBlockVisitor)(const HeapBlock* block, void* context);

static void walkBusyBlocks(BusyBlockVisitor visit, void* context)
{
    HANDLE heaps[MAX_HEAPS];
    DWORD count = GetProcessHeaps(MAX_HEAPS, heaps), i;
    for (i = 0; i < count && i < MAX_HEAPS; ++i) {
        PROCESS_HEAP_ENTRY entry;
        if (!HeapLock(heaps[i]))
            continue;
        memset(&entry, 0, sizeof entry);
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                HeapBlock block = {heaps[i], entry.lpData, entry.cbData};
                visit(&block, context);
            }
        }
        HeapUnlock(heaps[i]);
    }
}

static void addBytes(const HeapBlock* block, void* total) { *(unsigned long long*)total += block->size; }

unsigned long long heapInUse(void)
{
    unsigned long long total = 0;
    walkBusyBlocks(addBytes, &total);
    return total;
}

typedef struct BlockList {
    HeapBlock* blocks;
    int count;
    int capacity;
} BlockList;

static void countBlock(const HeapBlock* block, void* count)
{
    (void)block;
    ++*(int*)count;
}

static void keepBlock(const HeapBlock* block, void* list)
{
    BlockList* blocks = (BlockList*)list;
    if (blocks->count < blocks->capacity)
        blocks->blocks[blocks->count++] = *block;
}

static int byAddress(const void* a, const void* b)
{
    const char* left = (const char*)((const HeapBlock*)a)->data;
    const char* right = (const char*)((const HeapBlock*)b)->data;
    return left < right ? -1 : left > right;
}

/* Both lists are allocated before either walk, so neither shows up as made. */
static void allocateLists(BlockList* before, BlockList* after)
{
    int count = 0;
    walkBusyBlocks(countBlock, &count);
    before->capacity = after->capacity = count + 1024;
    before->count = after->count = 0;
    before->blocks = malloc(sizeof(HeapBlock) * (size_t)before->capacity);
    after->blocks = malloc(sizeof(HeapBlock) * (size_t)after->capacity);
}

int blocksMadeBy(void (*make)(void* context), void* context, HeapBlock* made, int capacity)
{
    BlockList before, after;
    int found = 0, i;
    allocateLists(&before, &after);
    walkBusyBlocks(keepBlock, &before);
    make(context);
    walkBusyBlocks(keepBlock, &after);
    qsort(before.blocks, (size_t)before.count, sizeof(HeapBlock), byAddress);
    for (i = 0; i < after.count; ++i) {
        if (bsearch(&after.blocks[i], before.blocks, (size_t)before.count, sizeof(HeapBlock), byAddress))
            continue;
        if (found < capacity)
            made[found] = after.blocks[i];
        ++found;
    }
    free(before.blocks);
    free(after.blocks);
    return found;
}

/* The free stretch of the block's heap that holds the block, if any. */
static int freeStretchHolding(const HeapBlock* block, HeapBlock* stretch)
{
    PROCESS_HEAP_ENTRY entry;
    const char* at = (const char*)block->data;
    int found = 0;
    memset(&entry, 0, sizeof entry);
    HeapLock(block->heap);
    while (!found && HeapWalk(block->heap, &entry)) {
        const char* from = (const char*)entry.lpData;
        if (entry.wFlags == 0 && at >= from && at + block->size <= from + entry.cbData) {
            stretch->heap = block->heap;
            stretch->data = entry.lpData;
            stretch->size = entry.cbData;
            found = 1;
        }
    }
    HeapUnlock(block->heap);
    return found;
}

/* What the host took back, filled, and keeps for the rest of the run. */
static HeapBlock taken[MAX_TAKEN];
static int takenCount;

static int liesInTakenMemory(const HeapBlock* block)
{
    const char* at = (const char*)block->data;
    int i;
    for (i = 0; i < takenCount; ++i) {
        const char* from = (const char*)taken[i].data;
        if (at >= from && at + block->size <= from + taken[i].size)
            return 1;
    }
    return 0;
}

/* The heap may hand out another stretch of that size first; then it tries again. */
int takeBackBlock(const HeapBlock* block, unsigned char pattern)
{
    HeapBlock stretch;
    int attempt;
    for (attempt = 0; attempt < 16 && takenCount < MAX_TAKEN && !liesInTakenMemory(block) &&
                      freeStretchHolding(block, &stretch);
         ++attempt) {
        void* memory = HeapAlloc(block->heap, 0, stretch.size);
        if (!memory)
            break;
        memset(memory, pattern, stretch.size);
        taken[takenCount].heap = block->heap;
        taken[takenCount].data = memory;
        taken[takenCount].size = stretch.size;
        ++takenCount;
    }
    return liesInTakenMemory(block);
}
