#include "platform/media/media_types.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {
thread_local OSErr tLastError = noErr;

// The handle's first member is the data pointer, so a Handle is the address of this record.
struct HandleBlock
{
    char *data;
    int32_t size;
    int32_t capacity;
    int locks;
};
HandleBlock *Block(Handle h) { return reinterpret_cast<HandleBlock *>(h); }

Handle MakeHandle(int32_t size, bool clear)
{
    if (size < 0) {
        tLastError = paramErr;
        return nullptr;
    }
    auto *b = static_cast<HandleBlock *>(std::malloc(sizeof(HandleBlock)));
    if (!b) {
        tLastError = memFullErr;
        return nullptr;
    }
    b->data = static_cast<char *>(clear ? std::calloc(size_t(size) + 1, 1) : std::malloc(size_t(size) + 1));
    if (!b->data) {
        std::free(b);
        tLastError = memFullErr;
        return nullptr;
    }
    b->size = size;
    b->capacity = size;
    b->locks = 0;
    tLastError = noErr;
    return &b->data;
}
} // namespace

OSErr GetMoviesError() { return tLastError; }
OSErr MemError() { return tLastError; }
void SetMoviesError(OSErr err) { tLastError = err; }

Fixed FixRatio(int16_t numer, int16_t denom)
{
    if (denom == 0) {
        return numer >= 0 ? INT32_MAX : INT32_MIN;
    }
    return Fixed((int64_t(numer) << 16) / denom);
}

Handle NewHandle(int32_t size) { return MakeHandle(size, false); }
Handle NewHandleClear(int32_t size) { return MakeHandle(size, true); }

void DisposeHandle(Handle h)
{
    if (!h) {
        return;
    }
    HandleBlock *b = Block(h);
    std::free(b->data);
    std::free(b);
    tLastError = noErr;
}

int32_t GetHandleSize(Handle h)
{
    if (!h) {
        tLastError = paramErr;
        return 0;
    }
    tLastError = noErr;
    return Block(h)->size;
}

void SetHandleSize(Handle h, int32_t size)
{
    if (!h || size < 0) {
        tLastError = paramErr;
        return;
    }
    HandleBlock *b = Block(h);
    if (size > b->capacity) {
        if (b->locks > 0) {
            tLastError = memFullErr; // a locked handle never moves
            return;
        }
        char *p = static_cast<char *>(std::realloc(b->data, size_t(size) + 1));
        if (!p) {
            tLastError = memFullErr;
            return;
        }
        b->data = p;
        b->capacity = size;
    }
    b->size = size;
    tLastError = noErr;
}

void HLock(Handle h)
{
    if (h) {
        Block(h)->locks++;
    }
}

void HUnlock(Handle h)
{
    if (h && Block(h)->locks > 0) {
        Block(h)->locks--;
    }
}

void OffsetRect(Rect *r, int16_t dh, int16_t dv)
{
    if (!r) {
        return;
    }
    r->left = int16_t(r->left + dh);
    r->right = int16_t(r->right + dh);
    r->top = int16_t(r->top + dv);
    r->bottom = int16_t(r->bottom + dv);
}
