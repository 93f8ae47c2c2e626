// Callback holders that cross the library's boundary. The caller owns each holder;
// the library keeps the pointer it is given and calls it later, so a holder must
// outlive its registration.
#pragma once

#include <functional>
#include <utility>

template <class T>
class CVoidCall1Arg {
public:
    virtual ~CVoidCall1Arg() = default;
    virtual void Call(T arg) = 0;
};

template <class R, class A1, class A2>
class CCall2Arg {
public:
    virtual ~CCall2Arg() = default;
    virtual R Call(A1 a1, A2 a2) = 0;
};

// Holders over any callable, for callers that prefer lambdas.
template <class T>
class CVoidCall1ArgFn : public CVoidCall1Arg<T> {
public:
    explicit CVoidCall1ArgFn(std::function<void(T)> fn) : m_fn(std::move(fn)) {}
    void Call(T arg) override { m_fn(arg); }

private:
    std::function<void(T)> m_fn;
};

template <class R, class A1, class A2>
class CCall2ArgFn : public CCall2Arg<R, A1, A2> {
public:
    explicit CCall2ArgFn(std::function<R(A1, A2)> fn) : m_fn(std::move(fn)) {}
    R Call(A1 a1, A2 a2) override { return m_fn(a1, a2); }

private:
    std::function<R(A1, A2)> m_fn;
};
