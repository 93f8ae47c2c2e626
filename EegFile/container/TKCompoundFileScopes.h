// Two small helpers of the container's own code: a lock hook held for a scope,
// and the collection of failures during a clean-up that must go on after one.
#pragma once

#include "EegFile/container/TKCompoundFileCallbacks.h"
#include "Platform/Exception.h"

// Takes a lock hook (state 1) for a scope and puts back its previous state when
// left, so that nested scopes leave an outer lock held. Restore() does it early
// and lets its failure through; when the scope is left by an exception, a
// failure to restore is dropped, so that the first failure is the one reported.
class CTKHookScope {
public:
    explicit CTKHookScope(CTKLockHook* hook)
        : m_pHook(hook), m_previous(hook ? hook->SetLockState(1) : 0) {}
    ~CTKHookScope() {
        if (!m_pHook)
            return;
        try {
            m_pHook->SetLockState(m_previous);
        } catch (CException* e) {
            e->Delete();
        }
    }
    CTKHookScope(const CTKHookScope&) = delete;
    CTKHookScope& operator=(const CTKHookScope&) = delete;

    void Restore() {
        CTKLockHook* hook = m_pHook;
        m_pHook = nullptr;
        if (hook)
            hook->SetLockState(m_previous);
    }

private:
    CTKLockHook* m_pHook;
    int m_previous;
};

// Runs the steps of a clean-up one after another, keeps the first exception
// (freeing later ones) and throws it once every step has run.
class CTKFirstException {
public:
    CTKFirstException() = default;
    ~CTKFirstException() {
        if (m_pFirst)
            m_pFirst->Delete();
    }
    CTKFirstException(const CTKFirstException&) = delete;
    CTKFirstException& operator=(const CTKFirstException&) = delete;

    template <class F>
    void Run(F&& step) {
        try {
            step();
        } catch (CException* e) {
            if (m_pFirst) {
                e->Delete();
            } else {
                m_pFirst = e;
            }
        }
    }
    void Rethrow() {
        if (CException* e = m_pFirst) {
            m_pFirst = nullptr;
            throw e;
        }
    }

private:
    CException* m_pFirst = nullptr;
};
