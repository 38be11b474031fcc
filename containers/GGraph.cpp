// The graph's nodes, edges, walks and stored form, and the factories that re-create node and edge
// classes by name when a stored graph is read. An edge's destructor takes it out of every list
// that holds it, so removing a node cannot leave an edge on either side pointing at it; path
// sums saturate instead of wrapping, and walks use explicit stacks, not recursion.
#include "containers/GGraph.h"

#include "platform/ClassRegistry.h"
#include "platform/Format.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace ie {

namespace {

template <class T> void EraseOne(std::vector<T*>& list, const T* item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it != list.end()) list.erase(it);
}

template <class T> bool Contains(const std::vector<T*>& list, const T* item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// A sum of weights that stays inside the 32-bit range instead of wrapping around, so a long
// path can never look shorter than a short one.
TGraphWeight SaturatingAdd(TGraphWeight a, TGraphWeight b) {
    const int64_t sum = static_cast<int64_t>(a) + b;
    if (sum > GraphInfinity) return GraphInfinity;
    if (sum < INT32_MIN) return INT32_MIN;
    return static_cast<TGraphWeight>(sum);
}

TGraphWeight EdgeWeight(const TGGraphEdge* edge) {
    auto* weighted = dynamic_cast<const TWeightedEdge*>(edge);
    return weighted ? weighted->Weight() : 1;
}

struct TGraphClasses {
    std::mutex Lock;
    std::unordered_map<std::string, TGraphNodeFactory> Nodes;
    std::unordered_map<std::string, TGraphEdgeFactory> Edges;

    TGraphClasses() {
        Nodes.emplace("TGGraphNode", [](TGCustomGraph* g) { return new TGGraphNode(g); });
        Nodes.emplace("TGLinkedGraphNode",
                      [](TGCustomGraph* g) { return new TGLinkedGraphNode(g); });
        Nodes.emplace("TWeightedNode", [](TGCustomGraph* g) { return new TWeightedNode(g); });
        Edges.emplace("TGGraphEdge",
                      [](TGGraphNode* f, TGGraphNode* t) { return new TGGraphEdge(f, t); });
        Edges.emplace("TWeightedEdge",
                      [](TGGraphNode* f, TGGraphNode* t) { return new TWeightedEdge(f, t); });
    }
};

TGraphClasses& GraphClasses() {
    static TGraphClasses classes;
    return classes;
}

} // namespace

void RegisterGraphNodeClass(std::string_view name, TGraphNodeFactory factory) {
    TGraphClasses& c = GraphClasses();
    std::lock_guard guard(c.Lock);
    c.Nodes[std::string(name)] = std::move(factory);
}

void RegisterGraphEdgeClass(std::string_view name, TGraphEdgeFactory factory) {
    TGraphClasses& c = GraphClasses();
    std::lock_guard guard(c.Lock);
    c.Edges[std::string(name)] = std::move(factory);
}

TGGraphNode* CreateGraphNode(std::string_view className, TGCustomGraph* graph) {
    TGraphNodeFactory factory;
    {
        TGraphClasses& c = GraphClasses();
        std::lock_guard guard(c.Lock);
        auto it = c.Nodes.find(std::string(className));
        if (it == c.Nodes.end()) throw EClassNotFound(Format("Class %s not found", className));
        factory = it->second;
    }
    return factory(graph);
}

TGGraphEdge* CreateGraphEdge(std::string_view className, TGGraphNode* from, TGGraphNode* to) {
    TGraphEdgeFactory factory;
    {
        TGraphClasses& c = GraphClasses();
        std::lock_guard guard(c.Lock);
        auto it = c.Edges.find(std::string(className));
        if (it == c.Edges.end()) throw EClassNotFound(Format("Class %s not found", className));
        factory = it->second;
    }
    return factory(from, to);
}

// ---------------------------------------------------------------------------------------------
// TGGraphEdge

TGGraphEdge::TGGraphEdge(TGGraphNode* fromNode, TGGraphNode* toNode)
    : FFromNode(fromNode), FToNode(toNode) {
    if (!fromNode || !toNode) throw EGraphException("Edge must be created with two valid nodes");
    fromNode->AddEdge(toNode, this);
    toNode->FIncoming.push_back(this);
    toNode->AddIncomingEdge(fromNode, this);
}

TGGraphEdge::~TGGraphEdge() {
    FFromNode->RemoveEdge(FToNode, this);
    EraseOne(FToNode->FIncoming, this);
    FToNode->RemoveIncomingEdge(FFromNode, this);
}

void TGGraphEdge::Assign(const TPersistent* source) {
    if (dynamic_cast<const TGGraphEdge*>(source)) return;
    TPersistent::Assign(source);
}

void TGGraphEdge::Changed() {
    FFromNode->Changed();
    if (FToNode != FFromNode) FToNode->Changed();
}

void TWeightedEdge::SetWeight(TGraphWeight value) {
    if (value == FWeight) return;
    FWeight = value;
    Changed();
}

void TWeightedEdge::Assign(const TPersistent* source) {
    if (auto* e = dynamic_cast<const TWeightedEdge*>(source)) {
        SetWeight(e->FWeight);
        return;
    }
    TGGraphEdge::Assign(source);
}

void TWeightedEdge::WriteData(TWriter& writer) const {
    writer.WriteInteger(FWeight);
}

void TWeightedEdge::ReadData(TReader& reader) {
    SetWeight(reader.ReadInteger());
}

// ---------------------------------------------------------------------------------------------
// TGGraphNode

TGGraphNode::TGGraphNode(TGCustomGraph* graph) {
    // The caption is made from ClassName() on first use: the most derived class is not built
    // yet while this constructor runs.
    if (graph) {
        FCaptionNumber = graph->FNodeCounter++;
        graph->AddNode(this);
    } else {
        FCaptionNumber = -1;
    }
}

TGGraphNode::~TGGraphNode() {
    // A dying node reports nothing about itself.
    ++FUpdateCount;
    OnChange = nullptr;
    RemoveAllEdges();
    if (FGraph) {
        TGCustomGraph* graph = FGraph;
        FGraph = nullptr;
        graph->ListRemove(this);
    }
}

const std::string& TGGraphNode::Caption() const {
    if (FDefaultCaption) {
        FCaption.assign(ClassName());
        if (FCaptionNumber >= 0) FCaption += IntToStr(FCaptionNumber);
        FDefaultCaption = false;
    }
    return FCaption;
}

void TGGraphNode::SetCaption(const std::string& caption) {
    if (caption == Caption()) return;
    if (FGraph) FGraph->NodeCaptionChanging(this, caption);
    FCaption = caption;
    Changed();
}

bool TGGraphNode::IsDirected() const {
    return FGraph == nullptr || FGraph->Directed();
}

void TGGraphNode::SetGraph(TGCustomGraph* graph) {
    if (graph == FGraph) return;
    if (FGraph) {
        BeginUpdate();
        RemoveAllEdges();
        TGCustomGraph* old = FGraph;
        FGraph = nullptr;
        old->ListRemove(this);
        --FUpdateCount;
    }
    if (graph) graph->AddNode(this);
}

TGGraphEdge* TGGraphNode::Edges(int32_t index) const {
    if (index < 0 || index >= EdgeCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FEdges[static_cast<size_t>(index)];
}

void TGGraphNode::AddIncomingEdge(TGGraphNode* from, TGGraphEdge* edge) {
    ++FInDegree;
    // An undirected edge belongs to both ends: list it here too and count it at its start.
    if (!IsDirected() && edge->FromNode() == from && from != this) {
        AddEdge(from, edge);
        from->AddIncomingEdge(this, edge);
    }
}

void TGGraphNode::AddEdge(TGGraphNode* to, TGGraphEdge* edge) {
    (void)to;
    if (!Contains(FEdges, edge)) FEdges.push_back(edge);
    Changed();
}

void TGGraphNode::RemoveIncomingEdge(TGGraphNode* from, TGGraphEdge* edge) {
    --FInDegree;
    if (!IsDirected() && edge->FromNode() == from && from != this) {
        RemoveEdge(from, edge);
        from->RemoveIncomingEdge(this, edge);
    }
}

void TGGraphNode::RemoveEdge(TGGraphNode* to, TGGraphEdge* edge) {
    (void)to;
    EraseOne(FEdges, edge);
    Changed();
}

void TGGraphNode::RemoveAllEdges() {
    BeginUpdate();
    // The edges ending here belong to other nodes; they go first so that none of them is left
    // pointing at this node. Each destructor takes the edge out of every list.
    while (!FIncoming.empty())
        delete FIncoming.back();
    while (!FEdges.empty())
        delete FEdges.back();
    FInDegree = 0;
    --FUpdateCount;
    if (FUpdateCount == 0) Changed();
}

void TGGraphNode::RemoveEdgesTo(TGGraphNode* node) {
    BeginUpdate();
    for (size_t i = FEdges.size(); i-- > 0;) {
        if (i >= FEdges.size()) continue;
        TGGraphEdge* e = FEdges[i];
        if (e->OtherNode(this) == node) delete e;
    }
    EndUpdate();
}

TGGraphEdge* TGGraphNode::CreateEdge(TGGraphNode* to) {
    return new TGGraphEdge(this, to);
}

TGGraphEdge* TGGraphNode::ConnectTo(TGGraphNode* node) {
    if (!FGraph)
        throw EGraphException(Format("Node \"%s\" is unconnected to any graph", Caption()));
    if (node && !node->FGraph)
        throw EGraphException(Format("Node \"%s\" is unconnected to any graph", node->Caption()));
    return CreateEdge(node);
}

void TGGraphNode::DeleteEdge(int32_t index) {
    delete Edges(index);
}

void TGGraphNode::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0) Changed();
}

void TGGraphNode::Changed() {
    if (FUpdateCount != 0) return;
    if (FGraph) FGraph->NodeChanged(this);
    if (OnChange) OnChange(this, this);
}

void TGGraphNode::Assign(const TPersistent* source) {
    if (auto* n = dynamic_cast<const TGGraphNode*>(source)) {
        SetCaption(n->Caption());
        return;
    }
    TPersistent::Assign(source);
}

void TGGraphNode::WriteData(TWriter& writer) const {
    writer.WriteString(Caption());
}

void TGGraphNode::ReadData(TReader& reader) {
    SetCaption(reader.ReadString());
}

// ---------------------------------------------------------------------------------------------
// TWeightedNode

std::vector<std::string> TWeightedNode::ShortestPathCaptions() const {
    std::vector<std::string> captions;
    captions.reserve(FShortestPath.size());
    for (const TGGraphNode* n : FShortestPath)
        captions.push_back(n->Caption());
    return captions;
}

TGGraphEdge* TWeightedNode::CreateEdge(TGGraphNode* to) {
    return new TWeightedEdge(this, to);
}

void TWeightedNode::Assign(const TPersistent* source) {
    TGGraphNode::Assign(source);
    if (auto* n = dynamic_cast<const TWeightedNode*>(source)) FWeight = n->FWeight;
}

void TWeightedNode::WriteData(TWriter& writer) const {
    TGGraphNode::WriteData(writer);
    writer.WriteInteger(FWeight);
}

void TWeightedNode::ReadData(TReader& reader) {
    TGGraphNode::ReadData(reader);
    FWeight = reader.ReadInteger();
}

// ---------------------------------------------------------------------------------------------
// TGCustomGraph

TGCustomGraph::TGCustomGraph(TComponent* owner)
    : TComponent(owner), FNodeClass([](TGCustomGraph* g) { return new TGGraphNode(g); }) {}

TGCustomGraph::~TGCustomGraph() {
    OnChange = nullptr;
    OnAddNode = nullptr;
    OnRemoveNode = nullptr;
    OnNodeChange = nullptr;
    OnNodeCaptionChange = nullptr;
    Clear();
}

TGGraphNode* TGCustomGraph::Nodes(int32_t index) const {
    if (index < 0 || index >= NodeCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FNodes[static_cast<size_t>(index)];
}

TGGraphNode* TGCustomGraph::FindNode(std::string_view caption) const {
    for (TGGraphNode* n : FNodes)
        if (n->Caption() == caption) return n;
    return nullptr;
}

int32_t TGCustomGraph::IndexOfNode(const TGGraphNode* node) const {
    auto it = std::find(FNodes.begin(), FNodes.end(), node);
    return it == FNodes.end() ? -1 : static_cast<int32_t>(it - FNodes.begin());
}

void TGCustomGraph::AddNode(TGGraphNode* node) {
    if (!node || FAdding) return;
    if (node->FGraph == this && Contains(FNodes, node)) return;
    FAdding = true;
    try {
        if (node->FGraph) node->SetGraph(nullptr);
        FNodes.push_back(node);
        node->FGraph = this;
    } catch (...) {
        FAdding = false;
        throw;
    }
    FAdding = false;
    Change();
    if (OnAddNode) OnAddNode(this, node);
}

bool TGCustomGraph::RemoveNode(TGGraphNode* node) {
    if (!node || !Contains(FNodes, node)) return false;
    if (OnRemoveNode) OnRemoveNode(this, node);
    delete node;
    return true;
}

void TGCustomGraph::ExtractNode(TGGraphNode* node) {
    if (node && node->FGraph == this) node->SetGraph(nullptr);
}

void TGCustomGraph::ListRemove(TGGraphNode* node) {
    auto it = std::find(FNodes.begin(), FNodes.end(), node);
    if (it == FNodes.end()) return;
    FNodes.erase(it);
    Change();
}

void TGCustomGraph::Clear() {
    BeginUpdate();
    // Destroyed in order from a list the nodes are no longer in, so no destructor has to
    // search and shift the list.
    std::vector<TGGraphNode*> nodes;
    nodes.swap(FNodes);
    for (TGGraphNode* n : nodes)
        delete n;
    FNodeCounter = 0;
    FChanged = true;
    EndUpdate();
}

TGGraphNode* TGCustomGraph::NewNode() {
    TGGraphNode* node = FNodeClass(this);
    if (node->FGraph != this) AddNode(node);
    return node;
}

TGGraphNode* TGCustomGraph::NewNode(const std::string& caption) {
    TGGraphNode* node = NewNode();
    node->SetCaption(caption);
    return node;
}

void TGCustomGraph::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0 && OnChange) OnChange(this);
}

void TGCustomGraph::Change() {
    FChanged = true;
    if (FUpdateCount == 0 && OnChange) OnChange(this);
}

void TGCustomGraph::NodeChanged(TGGraphNode* node) {
    FChanged = true;
    if (FUpdateCount == 0 && OnNodeChange) OnNodeChange(this, node);
}

void TGCustomGraph::NodeCaptionChanging(TGGraphNode* node, const std::string& caption) {
    if (OnNodeCaptionChange) OnNodeCaptionChange(this, node, caption);
}

void TGCustomGraph::SetDirected(bool value) {
    if (value == FDirected) return;
    BeginUpdate();
    if (value) {
        // Each node keeps only the edges leaving it; the edge's start stops counting it as
        // incoming. The end keeps its count: it is the edge's one real in-degree.
        for (TGGraphNode* node : FNodes) {
            for (size_t i = node->FEdges.size(); i-- > 0;) {
                TGGraphEdge* e = node->FEdges[i];
                if (e->FromNode() == node) continue;
                node->RemoveEdge(e->FromNode(), e);
                --e->FromNode()->FInDegree;
            }
        }
        FDirected = true;
    } else {
        FDirected = false;
        for (TGGraphNode* node : FNodes) {
            const std::vector<TGGraphEdge*> edges = node->FEdges;
            for (TGGraphEdge* e : edges) {
                if (e->FromNode() != node || e->ToNode() == node) continue;
                e->ToNode()->AddEdge(node, e);
                ++node->FInDegree;
            }
        }
    }
    FChanged = true;
    EndUpdate();
}

bool TGCustomGraph::IsValid() {
    if (FChanged) TopologicalSort();
    return FAcyclic;
}

std::vector<TGGraphNode*> TGCustomGraph::TopologicalSort() {
    std::vector<TGGraphNode*> list;
    TopologicalSort(list);
    return list;
}

void TGCustomGraph::TopologicalSort(std::vector<TGGraphNode*>& list) {
    FAcyclic = false;
    FChanged = false;
    list.clear();
    if (!FDirected) return;
    list.reserve(FNodes.size());
    // Last in, first out: the order of the output depends on it.
    std::vector<TGGraphNode*> stack;
    for (TGGraphNode* n : FNodes) {
        n->FWorkTag = n->FInDegree;
        if (n->FInDegree == 0) stack.push_back(n);
    }
    for (size_t i = 0; i < FNodes.size(); ++i) {
        if (stack.empty()) return;
        TGGraphNode* n = stack.back();
        stack.pop_back();
        list.push_back(n);
        for (TGGraphEdge* e : n->FEdges) {
            TGGraphNode* to = e->ToNode();
            if (--to->FWorkTag == 0) stack.push_back(to);
        }
    }
    FAcyclic = true;
}

void TGCustomGraph::ResetNodes(TWeightedNode* source) {
    for (TGGraphNode* n : FNodes) {
        n->FVisited = 0;
        auto* w = dynamic_cast<TWeightedNode*>(n);
        if (!w) continue;
        w->FWeight = GraphInfinity;
        if (StorePaths) {
            w->FShortestPath.clear();
            if (source) w->FShortestPath.push_back(source);
        }
    }
}

void TGCustomGraph::ShortestPaths(TWeightedNode* source) {
    if (!source) return;
    BeginUpdate();
    ResetNodes(source);
    for (TGGraphEdge* e : source->FEdges) {
        auto* other = dynamic_cast<TWeightedNode*>(e->OtherNode(source));
        if (other && EdgeWeight(e) < other->FWeight) other->FWeight = EdgeWeight(e);
    }
    source->FVisited = 1;
    source->FWeight = 0;

    // The unvisited weighted node of least weight, the earliest on ties.
    auto pick = [this]() -> TWeightedNode* {
        TWeightedNode* best = nullptr;
        for (TGGraphNode* n : FNodes) {
            auto* w = dynamic_cast<TWeightedNode*>(n);
            if (w && !w->FVisited && (!best || w->FWeight < best->FWeight)) best = w;
        }
        if (best) {
            best->FVisited = 1;
            if (StorePaths) best->FShortestPath.push_back(best);
        }
        return best;
    };
    const size_t count = FNodes.size();
    if (count >= 2) {
        for (size_t k = 0; k + 2 < count; ++k) {
            TWeightedNode* node = pick();
            if (!node) break;
            if (node->FWeight == GraphInfinity) continue;
            for (TGGraphEdge* e : node->FEdges) {
                auto* other = dynamic_cast<TWeightedNode*>(e->OtherNode(node));
                if (!other || other == node || other->FVisited) continue;
                const TGraphWeight weight = SaturatingAdd(node->FWeight, EdgeWeight(e));
                if (weight < other->FWeight) {
                    other->FWeight = weight;
                    if (StorePaths) other->FShortestPath = node->FShortestPath;
                }
            }
        }
        pick();
    }
    EndUpdate();
}

void TGCustomGraph::DepthFirstVisit(TGGraphNode* node) {
    if (!node) return;
    // An explicit stack: a long chain must not exhaust the call stack.
    std::vector<TGGraphNode*> stack{node};
    node->FVisited = 1;
    while (!stack.empty()) {
        TGGraphNode* n = stack.back();
        stack.pop_back();
        for (auto it = n->FEdges.rbegin(); it != n->FEdges.rend(); ++it) {
            TGGraphNode* other = (*it)->OtherNode(n);
            if (other && !other->FVisited) {
                other->FVisited = 1;
                stack.push_back(other);
            }
        }
    }
}

void TGCustomGraph::Assign(const TPersistent* source) {
    auto* src = dynamic_cast<const TGCustomGraph*>(source);
    if (!src) {
        TComponent::Assign(source);
        return;
    }
    if (src == this) return;
    // Reading the source's validity may run its sort, which only refreshes its scratch state.
    auto* from = const_cast<TGCustomGraph*>(src);
    WithinUpdate(*this, [&] {
        const bool acyclic = from->IsValid();
        Clear();
        SetDirected(from->FDirected);
        std::vector<TGGraphNode*> copies;
        copies.reserve(from->FNodes.size());
        for (size_t i = 0; i < from->FNodes.size(); ++i) {
            TGGraphNode* s = from->FNodes[i];
            s->FWorkTag = static_cast<intptr_t>(i);
            TGGraphNode* n = CreateGraphNode(s->ClassName(), this);
            if (n->FGraph != this) AddNode(n);
            n->Assign(s);
            copies.push_back(n);
        }
        // Copies are found by index: captions need not be unique.
        for (TGGraphNode* s : from->FNodes) {
            for (TGGraphEdge* e : s->FEdges) {
                if (e->FromNode() != s) continue;
                TGGraphEdge* copy = CreateGraphEdge(e->ClassName(), copies[s->FWorkTag],
                                                    copies[e->ToNode()->FWorkTag]);
                copy->Assign(e);
            }
        }
        FAcyclic = acyclic;
        FChanged = from->FChanged;
    });
}

void TGCustomGraph::DefineProperties(TFiler& filer) {
    TComponent::DefineProperties(filer);
    filer.DefineProperty(
        "Directed", [this](TReader& r) { SetDirected(r.ReadBoolean()); },
        [this](TWriter& w) { w.WriteBoolean(FDirected); }, FDirected);
    filer.DefineProperty(
        "NodeNEdges", [this](TReader& r) { ReadNodeNEdges(r); },
        [this](TWriter& w) { WriteNodeNEdges(w); }, !FNodes.empty());
}

void TGCustomGraph::WriteNodeNEdges(TWriter& writer) const {
    writer.WriteInteger(NodeCount());
    std::unordered_map<const TGGraphNode*, int32_t> index;
    index.reserve(FNodes.size());
    for (size_t i = 0; i < FNodes.size(); ++i) {
        const TGGraphNode* n = FNodes[i];
        index.emplace(n, static_cast<int32_t>(i));
        writer.WriteString(n->ClassName());
        n->WriteData(writer);
    }
    writer.WriteListBegin();
    for (size_t i = 0; i < FNodes.size(); ++i) {
        for (const TGGraphEdge* e : FNodes[i]->FEdges) {
            if (e->FromNode() != FNodes[i]) continue;
            writer.WriteString(e->ClassName());
            writer.WriteInteger(static_cast<int64_t>(i));
            writer.WriteInteger(index.at(e->ToNode()));
            e->WriteData(writer);
        }
    }
    writer.WriteListEnd();
}

void TGCustomGraph::ReadNodeNEdges(TReader& reader) {
    WithinUpdate(*this, [&] {
        Clear();
        const int32_t count = reader.ReadInteger();
        if (count < 0) throw EReadError("Invalid property value");
        for (int32_t i = 0; i < count; ++i) {
            TGGraphNode* n = CreateGraphNode(reader.ReadString(), this);
            if (n->FGraph != this) AddNode(n);
            n->ReadData(reader);
        }
        reader.ReadListBegin();
        while (!reader.EndOfList()) {
            const std::string className = reader.ReadString();
            const int32_t from = reader.ReadInteger();
            const int32_t to = reader.ReadInteger();
            if (from < 0 || from >= NodeCount() || to < 0 || to >= NodeCount())
                throw EReadError("Invalid property value");
            TGGraphEdge* e = CreateGraphEdge(className, FNodes[static_cast<size_t>(from)],
                                             FNodes[static_cast<size_t>(to)]);
            e->ReadData(reader);
        }
    });
}

} // namespace ie
