// CEegEventMask and CEegEventList: the documented search cases, Add, Remove, the
// window selection with its count and priority filter, and a randomised
// comparison of the searches against a plain linear scan.
#include <gtest/gtest.h>

#include <random>

#include "EventTestSupport.h"

using namespace eventtest;

namespace {

// Owns the events of a list.
struct Owned {
    std::vector<std::unique_ptr<CEegEvent>> events;
    CEegEventList list;

    CEegEvent* AddNew(CEegEvent* e) {
        events.emplace_back(e);
        list.Add(e);
        return e;
    }
};

// The index of the last element at or before t, by scanning.
int ScanAt(const CEegEventList& l, uint32_t t) {
    int found = -1;
    for (int i = 0; i < l.GetSize(); ++i) {
        if (l[i]->GetTimeStamp().GetSampleOffset() <= t)
            found = i;
    }
    return found;
}

// What a list holds, as pointers.
std::vector<const CEegEvent*> Elements(const CEegEventList& l) {
    std::vector<const CEegEvent*> v;
    for (int i = 0; i < l.GetSize(); ++i)
        v.push_back(l[i]);
    return v;
}

using Ptrs = std::vector<const CEegEvent*>;
const CEegEventMask kNone = CEegEventMask::EmptyMask;
const CEegTimeStamp kOpen = CEegTimeStamp::NullStamp;
CEegTimeStamp At(uint32_t t) {
    return CEegTimeStamp(t);
}

}  // namespace

TEST(EegEventMask, GroupsAndBits) {
    CEegEventMask mask;
    EXPECT_EQ(mask.IsAnyMaskSet(), 0);
    mask.SetMontageParameterMask(1);
    mask.SetMiscMask(1);
    EXPECT_EQ(mask.IsAnyMaskSet(), 1);
    for (int t = 0; t < 28; ++t) {
        const bool neither = t == 12 || t == 13 || t == 19 || t == 21 || t == 22 || t >= 24;
        EXPECT_EQ(mask.Get(static_cast<CEegEvent::EventType>(t)), neither ? 0 : 1) << t;
    }
    mask.SetMiscMask(0);
    EXPECT_EQ(mask.Get(CEegEvent::etRecord), 0);
    EXPECT_EQ(mask.Get(CEegEvent::etRecordingRef), 1);
    CEegEventMask other;
    other.SetMask(CEegEvent::etPersyst, 1);
    mask.Or(other);
    EXPECT_EQ(mask.Get(CBlockEvent(At(1))), 0);
    EXPECT_EQ(mask.Get(CPersystEvent(At(1))), 1);
}

TEST(EegEventList, SearchesAddAndRemove) {
    Owned o;
    CEegEventList& l = o.list;
    EXPECT_EQ(l.GetIndexAt(At(5)), -1);
    EXPECT_EQ(l.GetIndexBefore(At(5)), -1);
    EXPECT_EQ(l.GetIndexAfter(At(5)), -1);
    EXPECT_EQ(l.GetAt(At(5), kNone), nullptr);

    // The index searches themselves are compared with a scan below.
    CEegEvent* e10 = o.AddNew(new CBlockEvent(At(10)));
    CEegEvent* m20 = o.AddNew(new CMontageEvent(At(20)));
    CEegEvent* e20 = o.AddNew(new CBlockEvent(At(20)));
    CEegEvent* e30 = o.AddNew(new CBlockEvent(At(30)));
    // GetAt skips masked-out types.
    EXPECT_EQ(l.GetAt(At(25), kNone), e20);
    CEegEventMask montageOnly;
    montageOnly.SetAll(1);
    EXPECT_EQ(l.GetAt(At(25), montageOnly), nullptr);
    montageOnly.SetMask(CEegEvent::etMontage, 0);
    EXPECT_EQ(l.GetAt(At(100), montageOnly), m20);
    EXPECT_EQ(l.GetAt(At(19), montageOnly), nullptr);

    // Add goes after equal stamps, and takes the same pointer twice; Remove is
    // by identity, one at a time.
    CEegEvent* late20 = o.AddNew(new CBlockEvent(At(20)));
    EXPECT_EQ(l[3], late20);
    CBlockEvent early(At(5)), twin(At(20));
    EXPECT_EQ(l.Add(&early), 0);
    EXPECT_EQ(l.Add(&early), 1);
    EXPECT_EQ(l.Remove(&early), &early);
    EXPECT_EQ(l.Remove(&early), &early);
    EXPECT_EQ(l.Remove(&early), nullptr);
    EXPECT_EQ(l.Remove(&twin), nullptr);
    EXPECT_EQ(l.Remove(m20), m20);
    EXPECT_EQ(Elements(l), (Ptrs{e10, e20, late20, e30}));

    // RemoveAt and SetSize keep the searches in step with the elements.
    l.RemoveAt(1, 2);
    ASSERT_EQ(l.GetSize(), 2);
    EXPECT_EQ(l.GetIndexAt(At(25)), 0);
    EXPECT_EQ(l.GetIndexAfter(At(10)), 1);
    EXPECT_EQ(l.GetAt(At(29), kNone), e10);
    l.SetSize(0, 16);
    EXPECT_EQ(l.GetIndexAt(At(100)), -1);
    EXPECT_EQ(l.Add(e30), 0);
    EXPECT_EQ(l.Add(e10), 0);
    l.RemoveAll();
    EXPECT_EQ(l.GetAt(At(100), kNone), nullptr);
}

TEST(EegEventList, WindowSelection) {
    Owned o;
    CEegEvent* b10 = o.AddNew(new CBlockEvent(At(10)));
    CEegEvent* a20 = o.AddNew(new CCommentEvent(At(20), "a", 2));
    CEegEvent* b20 = o.AddNew(new CUserEvent(At(20), "b", 4));
    CEegEvent* c30 = o.AddNew(new CCommentEvent(At(30), "c", 6));
    CEegEvent* k40 = o.AddNew(new CKeyPressEvent(At(40), 1));
    auto window = [&](const CEegEventMask& mask, CEegTimeStamp start, CEegTimeStamp end,
                      uint32_t count, unsigned short priority) {
        CEegEventList out;
        out.Add(b10);  // emptied first
        o.list.GetEventList(out, mask, start, end, count, priority);
        return Elements(out);
    };
    // out is emptied first; windows include both ends (more cases against a scan below).
    EXPECT_EQ(window(kNone, kOpen, kOpen, 0, 0), (Ptrs{b10, a20, b20, c30, k40}));
    EXPECT_EQ(window(kNone, At(20), At(20), 1, 0), (Ptrs{a20}));
    // Priority 3: the comment of priority 2 is left out and does not count; the
    // key press of priority 1 is not filtered.
    EXPECT_EQ(window(kNone, At(20), kOpen, 2, 3), (Ptrs{b20, c30}));
    EXPECT_EQ(window(kNone, At(35), kOpen, 0, 9), (Ptrs{k40}));
    // Masking out only comments leaves the filter on for user events.
    CEegEventMask mask;
    mask.SetMask(CEegEvent::etComment, 1);
    EXPECT_EQ(window(mask, kOpen, kOpen, 0, 5), (Ptrs{b10, k40}));
    // Append adds to what out holds.
    CBlockEvent extra(At(25));
    CEegEventList out;
    out.Add(&extra);
    o.list.AppendEventList(out, kNone, At(20), At(30), 0, 0);
    EXPECT_EQ(Elements(out), (Ptrs{a20, b20, &extra, c30}));
}

// Many random lists, with many equal time stamps, against a linear scan.
TEST(EegEventList, SearchesAgreeWithALinearScan) {
    std::mt19937 rng(20240315);
    for (int round = 0; round < 300; ++round) {
        Owned o;
        const int size = static_cast<int>(rng() % 60);
        const uint32_t span = 1 + rng() % 80;
        std::vector<CEegEvent*> added;
        for (int i = 0; i < size; ++i) {
            const CEegTimeStamp at(rng() % span);
            const short priority = static_cast<short>(rng() % 10);
            switch (rng() % 4) {
                case 0:
                    added.push_back(o.AddNew(new CBlockEvent(at)));
                    break;
                case 1:
                    added.push_back(o.AddNew(new CMontageEvent(at)));
                    break;
                case 2:
                    added.push_back(o.AddNew(new CCommentEvent(at, "c", priority)));
                    break;
                default:
                    added.push_back(o.AddNew(new CUserEvent(at, "u", priority)));
            }
        }
        const CEegEventList& l = o.list;
        ASSERT_EQ(l.GetSize(), size);
        // Time order, equal stamps in the order they were added.
        for (int i = 1; i < size; ++i) {
            ASSERT_LE(l[i - 1]->GetTimeStamp(), l[i]->GetTimeStamp());
            if (l[i - 1]->GetTimeStamp() == l[i]->GetTimeStamp()) {
                ASSERT_LT(std::find(added.begin(), added.end(), l[i - 1]),
                          std::find(added.begin(), added.end(), l[i]));
            }
        }
        CEegEventMask mask;
        for (int t : {4, 11, 12, 13}) {
            if (rng() % 3 == 0)
                mask.SetMask(static_cast<CEegEvent::EventType>(t), 1);
        }
        for (uint32_t t = 0; t <= span + 1; ++t) {
            SCOPED_TRACE(testing::Message() << "round " << round << " t " << t);
            const int at = ScanAt(l, t);
            ASSERT_EQ(l.GetIndexAt(At(t)), at);
            ASSERT_EQ(l.GetIndexBefore(At(t)), t == 0 ? -1 : ScanAt(l, t - 1));
            ASSERT_EQ(l.GetIndexAfter(At(t)), at == size - 1 ? -1 : at + 1);
            const CEegEvent* expected = nullptr;
            for (int i = at; i >= 0 && !expected; --i) {
                if (!mask.Get(*l[i]))
                    expected = l[i];
            }
            ASSERT_EQ(l.GetAt(At(t), mask), expected);
        }
        // Windows: start, end (each possibly open), count and priority.
        for (int w = 0; w < 20; ++w) {
            const CEegTimeStamp start = rng() % 5 == 0 ? kOpen : At(rng() % (span + 2));
            const CEegTimeStamp end = rng() % 5 == 0 ? kOpen : At(rng() % (span + 2));
            const uint32_t maxCount = rng() % 6;
            const unsigned short minPriority = static_cast<unsigned short>(rng() % 10);
            CEegEventList got;
            CBlockEvent sentinel(At(0));
            got.Add(&sentinel);
            l.AppendEventList(got, mask, start, end, maxCount, minPriority);

            Ptrs want{&sentinel};
            const bool filter = minPriority != 0 &&
                                !(mask.Get(CEegEvent::etComment) && mask.Get(CEegEvent::etUser));
            for (int i = 0; i < size && (maxCount == 0 || want.size() <= maxCount); ++i) {
                const CEegEvent& e = *l[i];
                if ((start != kOpen && e.GetTimeStamp() < start) ||
                    (end != kOpen && end < e.GetTimeStamp()) || mask.Get(e))
                    continue;
                const int type = e.GetEventType();
                if (filter && (type == CEegEvent::etComment || type == CEegEvent::etUser) &&
                    static_cast<const CAnnotationEvent&>(e).GetPriority() < minPriority)
                    continue;
                want.push_back(&e);
            }
            ASSERT_EQ(Elements(got), want);
        }
        // Remove everything in random order; the rest stays in order.
        std::shuffle(added.begin(), added.end(), rng);
        for (CEegEvent* e : added) {
            ASSERT_EQ(o.list.Remove(e), e);
            ASSERT_EQ(o.list.Remove(e), nullptr);
        }
        ASSERT_EQ(o.list.GetSize(), 0);
    }
}
