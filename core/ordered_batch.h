// Items of a batch worked on by several threads at once, reported in order.
#pragma once

#include <cstddef>
#include <functional>

namespace qelda {

// Runs work(i, lane) for every i in [0, total) on `lanes` threads (lane 0 to
// lanes - 1; each lane works on one item at a time, so whatever a lane owns
// needs no lock). report(i) runs on the calling thread, in the order 0, 1, 2...,
// as soon as item i and every item before it are done. A report returning
// false stops the batch: no item is started after it, and the items already
// started are finished but not reported. Returns the number reported.
std::size_t run_ordered(std::size_t total, int lanes,
                        const std::function<void(std::size_t, int)>& work,
                        const std::function<bool(std::size_t)>& report);

}  // namespace qelda
