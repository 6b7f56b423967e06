#include <tonbrix/graph.h>

namespace tonbrix {

Node& Graph::add(std::unique_ptr<Node> node)
{
    nodes_.push_back(std::move(node));
    return *nodes_.back();
}

} // namespace tonbrix
