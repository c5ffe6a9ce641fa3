#pragma once

// Element views: a node handle paired with a test on the element's name.

#include <cstdint>

#include "xml/xml_node_ref.h"

namespace vantrel {

// The base view accepts any non-empty node.
class XmlNodeFilter {
public:
    XmlNodeFilter() = default;
    explicit XmlNodeFilter(XmlNodeRef node) : node_(node) {}
    virtual ~XmlNodeFilter() = default;

    // Takes the node of the handle.
    virtual void Assign(XmlNodeRef node) { node_ = node; }
    // The view's test; false for an empty node.
    virtual bool Accepts() const { return node_.IsValid(); }
    // Called by nothing in this program; does nothing.
    virtual void OnAssigned() {}
    // Back to the empty state.
    virtual void Reset() { node_ = XmlNodeRef(); }

    XmlNodeRef Node() const { return node_; }
    // Child of the view's node; empty when out of range.
    XmlNodeRef Child(std::uint32_t index) const { return node_.Child(index); }

protected:
    XmlNodeRef node_;
};

// Accepts a node whose name is exactly elementName (a string that outlives the view).
class XmlNamedFilter : public XmlNodeFilter {
public:
    explicit XmlNamedFilter(const char* elementName, XmlNodeRef node = XmlNodeRef())
        : XmlNodeFilter(node), elementName_(elementName) {}

    bool Accepts() const override { return node_.NameIs(elementName_); }
    const char* ElementName() const { return elementName_; }

private:
    const char* elementName_;
};

// The device section "DEVINFO".
class XmlDevInfoView : public XmlNamedFilter {
public:
    explicit XmlDevInfoView(XmlNodeRef node = XmlNodeRef()) : XmlNamedFilter("DEVINFO", node) {}
};

// A device or one of its entries, "DEV".
class XmlDevView : public XmlNamedFilter {
public:
    explicit XmlDevView(XmlNodeRef node = XmlNodeRef()) : XmlNamedFilter("DEV", node) {}
};

}  // namespace vantrel
