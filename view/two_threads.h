// Work split over rows between this thread and a second one. Callers hand in parts whose rows do
// not share anything they write, and compute every row exactly as one thread would: the bytes do
// not depend on the split.
#ifndef MZ_VIEW_TWO_THREADS_H
#define MZ_VIEW_TWO_THREADS_H

#include <exception>
#include <system_error>
#include <thread>

namespace mz {

// part(first, last) over rows [0, count): rows [0, count / 2) on a second thread where one can be
// had, the rest here (all of them here without one).
template <class F>
void inTwoHalves(int count, F part) {
    const int half = count / 2;
    std::thread helper;
    if (half > 0) {
        try {
            helper = std::thread([&part, half] { part(0, half); });
        } catch (const std::system_error&) {
            // No thread to be had: this one does it all.
        }
    }
    try {
        part(helper.joinable() ? half : 0, count);
    } catch (...) {
        if (helper.joinable()) helper.join();
        throw;
    }
    if (helper.joinable()) helper.join();
}

}  // namespace mz

#endif
