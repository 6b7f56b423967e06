#pragma once

#include <lilv/lilv.h>

#include <memory>

namespace tonbrix {

// Calls Fn on a non-null pointer: the deleter of every C handle owner.
template <auto Fn>
struct CFree {
    template <class T>
    void operator()(T* p) const noexcept
    {
        if (p != nullptr) {
            Fn(p);
        }
    }
};

using WorldPtr = std::unique_ptr<LilvWorld, CFree<lilv_world_free>>;
using NodePtr = std::unique_ptr<LilvNode, CFree<lilv_node_free>>;
using NodesPtr = std::unique_ptr<LilvNodes, CFree<lilv_nodes_free>>;
using StatePtr = std::unique_ptr<LilvState, CFree<lilv_state_free>>;

} // namespace tonbrix
