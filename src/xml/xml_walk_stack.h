#pragma once

// Internal to the XML library: the explicit stack of child indices that tree walks use instead of recursion; the first
// levels need no heap allocation.

#include <cstdint>
#include <vector>

#include "xml_node.h"

namespace vantrel {

class XmlWalkStack {
public:
    struct Frame {
        const XmlNode* node;
        std::uint32_t next;  // index of the next child to visit
    };

    bool Empty() const { return size_ == 0; }
    Frame& Top() { return size_ <= kInline ? inline_[size_ - 1] : overflow_[size_ - kInline - 1]; }
    void Push(const XmlNode* node) {
        if (size_ < kInline) {
            inline_[size_] = Frame{node, 0};
        } else {
            overflow_.push_back(Frame{node, 0});
        }
        ++size_;
    }
    void Pop() {
        if (size_ > kInline)
            overflow_.pop_back();
        --size_;
    }

private:
    static constexpr std::size_t kInline = 32;
    Frame inline_[kInline];
    std::vector<Frame> overflow_;
    std::size_t size_ = 0;
};

// Visits every node below top in document order, parents before their children, passing over empty
// child slots; top itself is not visited. The walk stops early as soon as visit returns false.
template <typename Visit>
void XmlVisitDescendants(const XmlNode* top, Visit&& visit) {
    XmlWalkStack stack;
    stack.Push(top);
    while (!stack.Empty()) {
        XmlWalkStack::Frame& frame = stack.Top();
        if (frame.next >= frame.node->childCount) {
            stack.Pop();
            continue;
        }
        XmlNode* child = frame.node->children[frame.next++];
        if (child == nullptr)
            continue;
        if (!visit(child))
            return;
        if (child->childCount > 0)
            stack.Push(child);
    }
}

}  // namespace vantrel
