// A graph of nodes joined by edges, directed or undirected, with a topological sort, shortest
// paths over weighted nodes and edges, and a stored form ("NodeNEdges").
//
// Ownership: the graph owns its nodes; a node owns the edges that start at it. Invariants:
//   - an edge is always between two live nodes: destroying a node (or taking it out of its
//     graph) first destroys every edge that starts or ends at it;
//   - a node's edge list holds, in a directed graph, the edges leaving it; in an undirected
//     graph every edge touching it (a loop once);
//   - a node's in-degree counts the edges ending at it, and in an undirected graph also the
//     edges starting at it that are not loops;
//   - IncomingEdges() always lists the edges whose ToNode is the node, whatever the mode.
// The Directed flag is off for a new graph.
#pragma once

#include "platform/Component.h"
#include "platform/Exceptions.h"
#include "platform/StoredProperties.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ie {

class TGCustomGraph;
class TGGraphNode;
class TGGraphEdge;
class TWeightedNode;

class EGraphException : public EException {
public:
    using EException::EException;
};

using TGraphWeight = int32_t;
// Stands for "no path" in shortest-path weights.
inline constexpr TGraphWeight GraphInfinity = 2147483647;

using TNodeNotifyEvent = std::function<void(TObject* sender, TGGraphNode* node)>;
using TNodeCaptionEvent =
    std::function<void(TObject* sender, TGGraphNode* node, const std::string& newCaption)>;

class TGGraphEdge : public TPersistent {
public:
    // Both nodes must be given ("Edge must be created with two valid nodes"). The edge joins
    // FromNode's edge list and is announced to ToNode as incoming.
    TGGraphEdge(TGGraphNode* fromNode, TGGraphNode* toNode);
    ~TGGraphEdge() override;

    std::string_view ClassName() const override { return "TGGraphEdge"; }

    TGGraphNode* FromNode() const { return FFromNode; }
    TGGraphNode* ToNode() const { return FToNode; }
    // The end that is not `node`: the one to walk to from `node`.
    TGGraphNode* OtherNode(const TGGraphNode* node) const {
        return FFromNode == node ? FToNode : FFromNode;
    }

    // Copies what the edge carries (nothing for the base; the weight of a weighted edge).
    void Assign(const TPersistent* source) override;
    // Tells both end nodes (once for a loop) that they changed.
    void Changed();

    virtual void WriteData(TWriter& writer) const { (void)writer; }
    virtual void ReadData(TReader& reader) { (void)reader; }

private:
    TGGraphNode* FFromNode;
    TGGraphNode* FToNode;
};

class TGGraphNode : public TPersistent {
public:
    // Joins `graph` (when given) with the default caption: the class name followed by the
    // graph's node counter, which then counts up.
    explicit TGGraphNode(TGCustomGraph* graph);
    // Destroys every edge touching the node, then leaves the graph.
    ~TGGraphNode() override;

    std::string_view ClassName() const override { return "TGGraphNode"; }

    const std::string& Caption() const;
    // A different caption is first announced to the graph (OnNodeCaptionChange), then stored.
    void SetCaption(const std::string& caption);

    TGCustomGraph* Graph() const { return FGraph; }
    // Leaving a graph destroys the node's edges; joining adds it to the new graph's nodes.
    void SetGraph(TGCustomGraph* graph);

    int32_t EdgeCount() const { return static_cast<int32_t>(FEdges.size()); }
    TGGraphEdge* Edges(int32_t index) const;
    const std::vector<TGGraphEdge*>& EdgeList() const { return FEdges; }
    const std::vector<TGGraphEdge*>& IncomingEdges() const { return FIncoming; }
    int32_t InDegree() const { return FInDegree; }

    uint8_t Visited() const { return FVisited; }
    void SetVisited(uint8_t value) { FVisited = value & 0x7F; }
    intptr_t WorkTag() const { return FWorkTag; }
    void SetWorkTag(intptr_t value) { FWorkTag = value; }

    TNodeNotifyEvent OnChange;

    // The edge bookkeeping, called by edges as they come and go.
    virtual void AddIncomingEdge(TGGraphNode* from, TGGraphEdge* edge);
    virtual void AddEdge(TGGraphNode* to, TGGraphEdge* edge);
    virtual void RemoveIncomingEdge(TGGraphNode* from, TGGraphEdge* edge);
    virtual void RemoveEdge(TGGraphNode* to, TGGraphEdge* edge);
    // Destroys every edge that starts or ends at the node; the in-degree becomes 0.
    virtual void RemoveAllEdges();
    // Destroys the edges of this node's list that lead to `node`.
    virtual void RemoveEdgesTo(TGGraphNode* node);
    // A new edge of the kind this node makes (a weighted node makes weighted edges).
    virtual TGGraphEdge* CreateEdge(TGGraphNode* to);
    // CreateEdge, for nodes of a graph ("Node "%s" is unconnected to any graph").
    TGGraphEdge* ConnectTo(TGGraphNode* node);
    // Destroys the edge at `index` of the list.
    void DeleteEdge(int32_t index);

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    // Outside an update: the graph's node-change handling, then OnChange.
    virtual void Changed();

    // Copies the caption (and a weighted node's weight).
    void Assign(const TPersistent* source) override;

    virtual void WriteData(TWriter& writer) const;
    virtual void ReadData(TReader& reader);

private:
    friend class TGGraphEdge;
    friend class TGCustomGraph;
    bool IsDirected() const;

    mutable std::string FCaption;
    mutable bool FDefaultCaption = true;
    int32_t FCaptionNumber = 0; // -1: made without a graph, the class name alone
    std::vector<TGGraphEdge*> FEdges;
    std::vector<TGGraphEdge*> FIncoming;
    TGCustomGraph* FGraph = nullptr;
    int32_t FInDegree = 0;
    int32_t FUpdateCount = 0;
    uint8_t FVisited = 0;
    intptr_t FWorkTag = 0;
};

// A node that also lists the edges ending at it (the Rete network's nodes).
class TGLinkedGraphNode : public TGGraphNode {
public:
    using TGGraphNode::TGGraphNode;
    std::string_view ClassName() const override { return "TGLinkedGraphNode"; }
    const std::vector<TGGraphEdge*>& LinkedEdges() const { return IncomingEdges(); }
};

class TWeightedEdge : public TGGraphEdge {
public:
    using TGGraphEdge::TGGraphEdge;
    std::string_view ClassName() const override { return "TWeightedEdge"; }

    TGraphWeight Weight() const { return FWeight; }
    void SetWeight(TGraphWeight value);

    void Assign(const TPersistent* source) override;
    void WriteData(TWriter& writer) const override;
    void ReadData(TReader& reader) override;

private:
    TGraphWeight FWeight = 0;
};

class TWeightedNode : public TGGraphNode {
public:
    using TGGraphNode::TGGraphNode;
    std::string_view ClassName() const override { return "TWeightedNode"; }

    TGraphWeight Weight() const { return FWeight; }
    void SetWeight(TGraphWeight value) { FWeight = value; }
    // The nodes of the shortest path found by the last ShortestPaths with StorePaths, from the
    // source to this node.
    const std::vector<TGGraphNode*>& ShortestPath() const { return FShortestPath; }
    std::vector<std::string> ShortestPathCaptions() const;

    TGGraphEdge* CreateEdge(TGGraphNode* to) override;
    void Assign(const TPersistent* source) override;
    void WriteData(TWriter& writer) const override;
    void ReadData(TReader& reader) override;

private:
    friend class TGCustomGraph;
    TGraphWeight FWeight = 0;
    std::vector<TGGraphNode*> FShortestPath;
};

using TGraphNodeFactory = std::function<TGGraphNode*(TGCustomGraph* graph)>;
using TGraphEdgeFactory = std::function<TGGraphEdge*(TGGraphNode* from, TGGraphNode* to)>;

// Node and edge classes known by name, for the stored form and for copying graphs. The
// classes of this unit are always known; a descendant registers itself once.
void RegisterGraphNodeClass(std::string_view name, TGraphNodeFactory factory);
void RegisterGraphEdgeClass(std::string_view name, TGraphEdgeFactory factory);
template <class T> void RegisterGraphNodeClass(std::string_view name) {
    RegisterGraphNodeClass(name, [](TGCustomGraph* g) -> TGGraphNode* { return new T(g); });
}
template <class T> void RegisterGraphEdgeClass(std::string_view name) {
    RegisterGraphEdgeClass(
        name, [](TGGraphNode* f, TGGraphNode* t) -> TGGraphEdge* { return new T(f, t); });
}
// Raise EClassNotFound "Class %s not found" for an unknown name.
TGGraphNode* CreateGraphNode(std::string_view className, TGCustomGraph* graph);
TGGraphEdge* CreateGraphEdge(std::string_view className, TGGraphNode* from, TGGraphNode* to);

class TGCustomGraph : public TComponent {
public:
    explicit TGCustomGraph(TComponent* owner);
    ~TGCustomGraph() override;

    std::string_view ClassName() const override { return "TGCustomGraph"; }

    bool Directed() const { return FDirected; }
    // Rebuilds every node's edge list for the new mode.
    void SetDirected(bool value);
    // Valid after a topological sort (see IsValid).
    bool Acyclic() const { return FAcyclic; }
    // The structure changed since the last topological sort.
    bool Changed() const { return FChanged; }
    bool StorePaths = false;

    int32_t NodeCount() const { return static_cast<int32_t>(FNodes.size()); }
    TGGraphNode* Nodes(int32_t index) const;
    const std::vector<TGGraphNode*>& NodeList() const { return FNodes; }
    auto begin() const { return FNodes.begin(); }
    auto end() const { return FNodes.end(); }
    // The first node with exactly this caption, or null.
    TGGraphNode* FindNode(std::string_view caption) const;
    // The index of `node`, or -1.
    int32_t IndexOfNode(const TGGraphNode* node) const;

    // Takes `node` into the graph (from any graph it was in), then OnAddNode.
    virtual void AddNode(TGGraphNode* node);
    // OnRemoveNode, then the node is destroyed; false when it is not in the graph.
    virtual bool RemoveNode(TGGraphNode* node);
    // Takes the node out without destroying it (its edges go, its Graph becomes null).
    virtual void ExtractNode(TGGraphNode* node);
    // Destroys every node, first to last, and restarts the node counter at 0.
    virtual void Clear();

    // A node of the graph's node class (TGGraphNode unless set).
    TGGraphNode* NewNode();
    TGGraphNode* NewNode(const std::string& caption);
    void SetNodeClass(TGraphNodeFactory factory) { FNodeClass = std::move(factory); }
    // The number the next default caption gets.
    int32_t NodeCounter() const { return FNodeCounter; }

    void BeginUpdate() { ++FUpdateCount; }
    // The last EndUpdate raises OnChange.
    void EndUpdate();

    // Runs a topological sort when the structure changed since the last; then Acyclic.
    bool IsValid();
    // The nodes in topological order (edges from earlier to later nodes). An undirected graph
    // gives nothing; a graph with a cycle gives the nodes output before the sort got stuck.
    std::vector<TGGraphNode*> TopologicalSort();
    void TopologicalSort(std::vector<TGGraphNode*>& list);
    // Shortest path weights from `source` into every TWeightedNode's Weight (GraphInfinity
    // when unreachable), and with StorePaths their paths. Node and edge weights add up with
    // saturation at GraphInfinity. Edges that are not TWeightedEdge weigh 1; nodes that are
    // not TWeightedNode are left out.
    void ShortestPaths(TWeightedNode* source);
    // Unmarks every node; weighted nodes get GraphInfinity (and with StorePaths a path holding
    // just `source`).
    void ResetNodes(TWeightedNode* source);
    // Marks `node` and everything reachable from it along the edge lists as visited.
    void DepthFirstVisit(TGGraphNode* node);

    // From another graph: same mode, nodes of the same classes in the same order, and the
    // same edges between the nodes at the same indexes.
    void Assign(const TPersistent* source) override;
    // "NodeNEdges" (when there are nodes) and "Directed" (when set).
    void DefineProperties(TFiler& filer) override;

    TNotifyEvent OnChange;
    TNodeNotifyEvent OnAddNode;
    TNodeNotifyEvent OnRemoveNode;
    TNodeNotifyEvent OnNodeChange;
    TNodeCaptionEvent OnNodeCaptionChange;

protected:
    // Structure changed: sets Changed and, outside an update, raises OnChange.
    void Change();
    // A node's change notification.
    virtual void NodeChanged(TGGraphNode* node);

private:
    friend class TGGraphNode;
    void NodeCaptionChanging(TGGraphNode* node, const std::string& caption);
    // Drops `node` from the list without destroying it.
    void ListRemove(TGGraphNode* node);
    void WriteNodeNEdges(TWriter& writer) const;
    void ReadNodeNEdges(TReader& reader);

    std::vector<TGGraphNode*> FNodes;
    TGraphNodeFactory FNodeClass;
    int32_t FNodeCounter = 0;
    int32_t FUpdateCount = 0;
    bool FDirected = false;
    bool FAcyclic = false;
    bool FChanged = true;
    bool FAdding = false;
};

class TGGraph : public TGCustomGraph {
public:
    using TGCustomGraph::TGCustomGraph;
    std::string_view ClassName() const override { return "TGGraph"; }
};

} // namespace ie
