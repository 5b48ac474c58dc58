#pragma once

#include <utility>

// Sets a test seam (a variable that a stand-in or the code under test reads)
// for as long as it lives and puts the value it had back when it ends, also
// where a failed assertion leaves the test early: no seam outlives its test
// when a test binary runs whole.
template <typename T> class ScopedSeam {
public:
    template <typename U>
    ScopedSeam(T& seam, U&& value) : m_seam(seam), m_old(std::exchange(seam, std::forward<U>(value))) {}
    ~ScopedSeam() { m_seam = std::move(m_old); }
    ScopedSeam(const ScopedSeam&) = delete;
    ScopedSeam& operator=(const ScopedSeam&) = delete;

private:
    T& m_seam;
    T m_old;
};
