// CEegEventMask and CEegEventList: the documented search cases, Add, Remove, the
// window selection with its count and priority filter, and a randomised
// comparison of the searches against a plain linear scan.
#include <gtest/gtest.h>

#include <random>

#include "EventTestSupport.h"

using namespace eventtest;

namespace {

// Owns the events of a list built from time stamps.
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

unsigned short PriorityOf(const CEegEvent& e) {
    return static_cast<const CAnnotationEvent&>(e).GetPriority();
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
    EXPECT_EQ(mask.Get(CBlockEvent(CEegTimeStamp(1))), 0);
    EXPECT_EQ(mask.Get(CPersystEvent(CEegTimeStamp(1))), 1);
    mask.SetAll(1);
    EXPECT_EQ(mask.GetBits(), 0xFFFFFFFFu);
    mask.SetAll(0);
    EXPECT_EQ(mask.GetBits(), 0u);
}

TEST(EegEventList, SearchesAddAndRemove) {
    Owned o;
    CEegEventList& l = o.list;
    EXPECT_EQ(l.GetIndexAt(CEegTimeStamp(5)), -1);
    EXPECT_EQ(l.GetIndexBefore(CEegTimeStamp(5)), -1);
    EXPECT_EQ(l.GetIndexAfter(CEegTimeStamp(5)), -1);
    EXPECT_EQ(l.GetAt(CEegTimeStamp(5), CEegEventMask::EmptyMask), nullptr);
    CEegEventList out;
    l.AppendEventList(out, CEegEventMask::EmptyMask, CEegTimeStamp::NullStamp,
                      CEegTimeStamp::NullStamp, 0, 0);
    EXPECT_EQ(out.GetSize(), 0);

    CEegEvent* e10 = o.AddNew(new CBlockEvent(CEegTimeStamp(10)));
    CEegEvent* m20 = o.AddNew(new CMontageEvent(CEegTimeStamp(20)));
    CEegEvent* e20 = o.AddNew(new CBlockEvent(CEegTimeStamp(20)));
    CEegEvent* e30 = o.AddNew(new CBlockEvent(CEegTimeStamp(30)));
    EXPECT_EQ(l.GetIndexAt(CEegTimeStamp(20)), 2);
    EXPECT_EQ(l.GetIndexAt(CEegTimeStamp(25)), 2);
    EXPECT_EQ(l.GetIndexAt(CEegTimeStamp(9)), -1);
    EXPECT_EQ(l.GetIndexAt(CEegTimeStamp(30)), 3);
    EXPECT_EQ(l.GetIndexBefore(CEegTimeStamp(20)), 0);
    EXPECT_EQ(l.GetIndexBefore(CEegTimeStamp(0)), -1);
    EXPECT_EQ(l.GetIndexAfter(CEegTimeStamp(20)), 3);
    EXPECT_EQ(l.GetIndexAfter(CEegTimeStamp(5)), 0);
    EXPECT_EQ(l.GetIndexAfter(CEegTimeStamp(30)), -1);

    // GetAt with masks.
    EXPECT_EQ(l.GetAt(CEegTimeStamp(25), CEegEventMask::EmptyMask), e20);
    CEegEventMask all;
    all.SetAll(1);
    EXPECT_EQ(l.GetAt(CEegTimeStamp(25), all), nullptr);
    CEegEventMask montageOnly = all;
    montageOnly.SetMask(CEegEvent::etMontage, 0);
    EXPECT_EQ(l.GetAt(CEegTimeStamp(100), montageOnly), m20);
    EXPECT_EQ(l.GetAt(CEegTimeStamp(19), montageOnly), nullptr);

    // Add after equal stamps, before everything, and the same pointer twice.
    CEegEvent* late20 = o.AddNew(new CBlockEvent(CEegTimeStamp(20)));
    EXPECT_EQ(l[3], late20);
    CBlockEvent early(CEegTimeStamp(5));
    EXPECT_EQ(l.Add(&early), 0);
    EXPECT_EQ(l.Add(&early), 1);
    EXPECT_EQ(l.GetSize(), 7);
    EXPECT_EQ(l.Remove(&early), &early);
    EXPECT_EQ(l.Remove(&early), &early);
    EXPECT_EQ(l.Remove(&early), nullptr);

    // Remove is by identity: an equal event at the same stamp stays.
    CBlockEvent twin(CEegTimeStamp(20));
    EXPECT_EQ(l.Remove(&twin), nullptr);
    CBlockEvent before(CEegTimeStamp(1));
    EXPECT_EQ(l.Remove(&before), nullptr);
    EXPECT_EQ(l.GetSize(), 5);
    EXPECT_EQ(l.Remove(m20), m20);
    ASSERT_EQ(l.GetSize(), 4);
    EXPECT_EQ(l[0], e10);
    EXPECT_EQ(l[1], e20);
    EXPECT_EQ(l[2], late20);
    EXPECT_EQ(l[3], e30);

    // RemoveAt and SetSize keep the searches in step with the elements.
    l.RemoveAt(1, 2);
    ASSERT_EQ(l.GetSize(), 2);
    EXPECT_EQ(l.GetIndexAt(CEegTimeStamp(25)), 0);
    EXPECT_EQ(l.GetIndexAfter(CEegTimeStamp(10)), 1);
    EXPECT_EQ(l.GetAt(CEegTimeStamp(29), CEegEventMask::EmptyMask), e10);
    l.SetSize(0, 16);
    EXPECT_EQ(l.GetIndexAt(CEegTimeStamp(100)), -1);
    EXPECT_EQ(l.Add(e30), 0);
    EXPECT_EQ(l.Add(e10), 0);
    l.RemoveAll();
    EXPECT_EQ(l.GetAt(CEegTimeStamp(100), CEegEventMask::EmptyMask), nullptr);
}

TEST(EegEventList, WindowSelection) {
    Owned o;
    o.AddNew(new CBlockEvent(CEegTimeStamp(10)));
    CEegEvent* a20 = o.AddNew(new CCommentEvent(CEegTimeStamp(20), "a", 2));
    CEegEvent* b20 = o.AddNew(new CUserEvent(CEegTimeStamp(20), "b", 4));
    CEegEvent* c30 = o.AddNew(new CCommentEvent(CEegTimeStamp(30), "c", 6));
    CEegEvent* k40 = o.AddNew(new CKeyPressEvent(CEegTimeStamp(40), 1));
    const CEegEventList& l = o.list;
    const CEegEventMask none = CEegEventMask::EmptyMask;
    const CEegTimeStamp open = CEegTimeStamp::NullStamp;

    CEegEventList out;
    l.GetEventList(out, none, open, open, 0, 0);
    ASSERT_EQ(out.GetSize(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(out[i], l[i]);

    l.GetEventList(out, none, CEegTimeStamp(20), CEegTimeStamp(20), 0, 0);
    ASSERT_EQ(out.GetSize(), 2);
    EXPECT_EQ(out[0], a20);
    EXPECT_EQ(out[1], b20);
    l.GetEventList(out, none, CEegTimeStamp(20), CEegTimeStamp(20), 1, 0);
    ASSERT_EQ(out.GetSize(), 1);
    EXPECT_EQ(out[0], a20);
    l.GetEventList(out, none, CEegTimeStamp(41), open, 0, 0);
    EXPECT_EQ(out.GetSize(), 0);
    l.GetEventList(out, none, CEegTimeStamp(15), CEegTimeStamp(35), 0, 0);
    EXPECT_EQ(out.GetSize(), 3);

    // Priority 3: the comment of priority 2 is left out and does not count; the
    // key press of priority 1 is not filtered.
    l.GetEventList(out, none, CEegTimeStamp(20), open, 2, 3);
    ASSERT_EQ(out.GetSize(), 2);
    EXPECT_EQ(out[0], b20);
    EXPECT_EQ(out[1], c30);
    l.GetEventList(out, none, CEegTimeStamp(35), open, 0, 9);
    ASSERT_EQ(out.GetSize(), 1);
    EXPECT_EQ(out[0], k40);
    // Masking out only comments leaves the filter on for user events...
    CEegEventMask noComments;
    noComments.SetMask(CEegEvent::etComment, 1);
    l.GetEventList(out, noComments, open, open, 0, 5);
    EXPECT_EQ(out.GetSize(), 2);  // the block and the key press
    // ...masking out both turns it off.
    CEegEventMask noBlocks = noComments;
    noBlocks.SetMask(CEegEvent::etUser, 1);
    noBlocks.SetMask(CEegEvent::etBlock, 1);
    l.GetEventList(out, noBlocks, open, open, 0, 5);
    ASSERT_EQ(out.GetSize(), 1);
    EXPECT_EQ(out[0], k40);

    // Append adds to what out holds; GetEventList empties it first.
    CBlockEvent extra(CEegTimeStamp(25));
    out.RemoveAll();
    out.Add(&extra);
    l.AppendEventList(out, none, CEegTimeStamp(20), CEegTimeStamp(30), 0, 0);
    ASSERT_EQ(out.GetSize(), 4);
    EXPECT_EQ(out[2], &extra);
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
            CEegEvent* e;
            switch (rng() % 4) {
                case 0:
                    e = new CBlockEvent(at);
                    break;
                case 1:
                    e = new CMontageEvent(at);
                    break;
                case 2:
                    e = new CCommentEvent(at, "c", static_cast<short>(rng() % 10));
                    break;
                default:
                    e = new CUserEvent(at, "u", static_cast<short>(rng() % 10));
                    break;
            }
            added.push_back(o.AddNew(e));
        }
        const CEegEventList& l = o.list;
        ASSERT_EQ(l.GetSize(), size);
        // Time order, equal stamps in the order they were added.
        for (int i = 1; i < size; ++i) {
            const CEegEvent* p = l[i - 1];
            const CEegEvent* q = l[i];
            ASSERT_LE(p->GetTimeStamp(), q->GetTimeStamp());
            if (p->GetTimeStamp() == q->GetTimeStamp()) {
                ASSERT_LT(std::find(added.begin(), added.end(), p),
                          std::find(added.begin(), added.end(), q));
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
            ASSERT_EQ(l.GetIndexAt(CEegTimeStamp(t)), at);
            ASSERT_EQ(l.GetIndexBefore(CEegTimeStamp(t)), t == 0 ? -1 : ScanAt(l, t - 1));
            ASSERT_EQ(l.GetIndexAfter(CEegTimeStamp(t)), size == 0 || at == size - 1 ? -1 : at + 1);
            const CEegEvent* expected = nullptr;
            for (int i = at; i >= 0 && !expected; --i) {
                if (!mask.Get(*l[i]))
                    expected = l[i];
            }
            ASSERT_EQ(l.GetAt(CEegTimeStamp(t), mask), expected);
        }
        // Windows: start, end (each possibly open), count and priority.
        for (int w = 0; w < 20; ++w) {
            const CEegTimeStamp start =
                rng() % 5 == 0 ? CEegTimeStamp::NullStamp : CEegTimeStamp(rng() % (span + 2));
            const CEegTimeStamp end =
                rng() % 5 == 0 ? CEegTimeStamp::NullStamp : CEegTimeStamp(rng() % (span + 2));
            const uint32_t maxCount = rng() % 6;
            const unsigned short minPriority = static_cast<unsigned short>(rng() % 10);
            CEegEventList got;
            CBlockEvent sentinel(CEegTimeStamp(0));
            got.Add(&sentinel);
            l.AppendEventList(got, mask, start, end, maxCount, minPriority);

            std::vector<const CEegEvent*> want;
            if (size > 0) {
                const uint32_t lo = start == CEegTimeStamp::NullStamp
                                        ? l[0]->GetTimeStamp().GetSampleOffset()
                                        : start.GetSampleOffset();
                const uint32_t hi = end == CEegTimeStamp::NullStamp
                                        ? l[size - 1]->GetTimeStamp().GetSampleOffset()
                                        : end.GetSampleOffset();
                const bool filter = minPriority != 0 && !(mask.Get(CEegEvent::etComment) &&
                                                          mask.Get(CEegEvent::etUser));
                const uint32_t limit = maxCount == 0 ? static_cast<uint32_t>(size) : maxCount;
                for (int i = 0; i < size && want.size() < limit; ++i) {
                    const CEegEvent& e = *l[i];
                    const uint32_t s = e.GetTimeStamp().GetSampleOffset();
                    if (s < lo || s > hi || mask.Get(e))
                        continue;
                    const bool annotation = e.GetEventType() == CEegEvent::etComment ||
                                            e.GetEventType() == CEegEvent::etUser;
                    if (filter && annotation && PriorityOf(e) < minPriority)
                        continue;
                    want.push_back(&e);
                }
            }
            ASSERT_EQ(got.GetSize(), static_cast<int>(want.size()) + 1);
            EXPECT_EQ(got[0], &sentinel);
            for (size_t i = 0; i < want.size(); ++i) {
                ASSERT_EQ(got[static_cast<int>(i) + 1], want[i]);
            }
        }
        // Remove everything in random order; the rest stays in order.
        std::shuffle(added.begin(), added.end(), rng);
        CEegEventList& editable = o.list;
        for (CEegEvent* e : added) {
            ASSERT_EQ(editable.Remove(e), e);
            ASSERT_EQ(editable.Remove(e), nullptr);
        }
        ASSERT_EQ(editable.GetSize(), 0);
    }
}
