// The objects a container's owner hands it: lock hooks, section observers and
// stream filters. The container only calls them; it never owns or frees them.
#pragma once

struct CTKSectionEntry;

// A lock between stations (a byte of the recording's lock file). Take it with 1,
// keep the previous state returned, and later call again with that state, so
// that nested critical sections leave an outer lock held.
class CTKLockHook {
public:
    virtual ~CTKLockHook() = default;
    // state 1 takes the lock, 0 releases it; returns the previous state. May throw
    // (a time-out raises the container's lockTimeout code).
    virtual int SetLockState(int state) = 0;
};

// Called just before a section header is written for a new or reused section, at
// a commit that writes the header, and when trimming shrinks a section. It may
// fill the entry's annotation length and words, which are written with the header.
class CTKSectionObserver {
public:
    virtual ~CTKSectionObserver() = default;
    // flag is always 1; the result is not used.
    virtual int OnSectionHeader(CTKSectionEntry& entry, int flag) = 0;
};

// Chooses the streams that whole-container operations (copy all, disk space) take.
class CTKStreamFilter {
public:
    virtual ~CTKStreamFilter() = default;
    // 0 excludes the stream (name, copy).
    virtual int IncludeStream(const char* name, int copy) = 0;
};
