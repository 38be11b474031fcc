#include "containers/GGraph.h"

#include "platform/ClassRegistry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ie;

namespace {

std::vector<std::string> Captions(const std::vector<TGGraphNode*>& nodes) {
    std::vector<std::string> r;
    for (auto* n : nodes)
        r.push_back(n->Caption());
    return r;
}

using Strings = std::vector<std::string>;

} // namespace

TEST(GGraph, EdgeNeedsTwoNodes) {
    TGGraph g(nullptr);
    TGGraphNode* a = g.NewNode("a");
    try {
        new TGGraphEdge(a, nullptr);
        FAIL();
    } catch (const EGraphException& e) {
        EXPECT_STREQ(e.what(), "Edge must be created with two valid nodes");
    }
    EXPECT_EQ(a->EdgeCount(), 0);
}

TEST(GGraph, ConnectToNeedsAGraph) {
    TGGraphNode loose(nullptr);
    TGGraph g(nullptr);
    TGGraphNode* a = g.NewNode("a");
    loose.SetCaption("loose");
    try {
        loose.ConnectTo(a);
        FAIL();
    } catch (const EGraphException& e) {
        EXPECT_STREQ(e.what(), "Node \"loose\" is unconnected to any graph");
    }
}

TEST(GGraph, DefaultCaptionsCountPerGraph) {
    TGGraph g(nullptr);
    g.SetNodeClass([](TGCustomGraph* gr) { return new TWeightedNode(gr); });
    TGGraphNode* a = g.NewNode();
    TGGraphNode* b = new TGGraphNode(&g);
    EXPECT_EQ(a->Caption(), "TWeightedNode0");
    EXPECT_EQ(b->Caption(), "TGGraphNode1");
    g.Clear();
    EXPECT_EQ(g.NewNode()->Caption(), "TWeightedNode0");
}

TEST(GGraph, TopologicalSortAndCycles) {
    TGGraph g(nullptr);
    g.SetDirected(true);
    TGGraphNode* a = g.NewNode("a");
    TGGraphNode* b = g.NewNode("b");
    TGGraphNode* c = g.NewNode("c");
    b->ConnectTo(c);
    a->ConnectTo(b);
    EXPECT_EQ(Captions(g.TopologicalSort()), (Strings{"a", "b", "c"}));
    EXPECT_TRUE(g.IsValid());
    c->ConnectTo(a);
    EXPECT_FALSE(g.IsValid());
    EXPECT_TRUE(g.TopologicalSort().empty());

    // Only the nodes before the cycle come out.
    TGGraph h(nullptr);
    h.SetDirected(true);
    TGGraphNode* x = h.NewNode("x");
    TGGraphNode* y = h.NewNode("y");
    TGGraphNode* z = h.NewNode("z");
    x->ConnectTo(y);
    y->ConnectTo(z);
    z->ConnectTo(y);
    EXPECT_EQ(Captions(h.TopologicalSort()), (Strings{"x"}));
    EXPECT_FALSE(h.Acyclic());
}

TEST(GGraph, TopologicalSortIsLastInFirstOut) {
    TGGraph g(nullptr);
    g.SetDirected(true);
    TGGraphNode* r1 = g.NewNode("r1");
    TGGraphNode* r2 = g.NewNode("r2");
    TGGraphNode* k = g.NewNode("k");
    r1->ConnectTo(k);
    EXPECT_EQ(Captions(g.TopologicalSort()), (Strings{"r2", "r1", "k"}));
    (void)r2;
}

TEST(GGraph, UndirectedBookkeepingAndSwitch) {
    TGGraph g(nullptr);
    TGGraphNode* a = g.NewNode("a");
    TGGraphNode* b = g.NewNode("b");
    a->ConnectTo(b);
    EXPECT_EQ(a->EdgeCount(), 1);
    EXPECT_EQ(b->EdgeCount(), 1);
    EXPECT_EQ(a->InDegree(), 1);
    EXPECT_EQ(b->InDegree(), 1);
    EXPECT_TRUE(g.TopologicalSort().empty());
    g.SetDirected(true);
    EXPECT_EQ(a->EdgeCount(), 1);
    EXPECT_EQ(b->EdgeCount(), 0);
    EXPECT_EQ(a->InDegree(), 0);
    EXPECT_EQ(b->InDegree(), 1);
    g.SetDirected(false);
    EXPECT_EQ(b->EdgeCount(), 1);
    EXPECT_EQ(a->InDegree(), 1);
    delete a->Edges(0);
    EXPECT_EQ(a->EdgeCount() + b->EdgeCount() + a->InDegree() + b->InDegree(), 0);
}

TEST(GGraph, FreeingANodeFreesTheEdgesEndingAtIt) {
    for (bool directed : {true, false}) {
        TGGraph g(nullptr);
        g.SetDirected(directed);
        TGGraphNode* a = g.NewNode("a");
        TGGraphNode* b = g.NewNode("b");
        TGGraphNode* c = g.NewNode("c");
        a->ConnectTo(b);
        c->ConnectTo(b);
        a->ConnectTo(c);
        EXPECT_TRUE(g.RemoveNode(b));
        EXPECT_EQ(g.NodeCount(), 2);
        // No edge of a or c may still lead to the freed node.
        ASSERT_EQ(a->EdgeCount(), 1);
        EXPECT_EQ(a->Edges(0)->ToNode(), c);
        EXPECT_EQ(c->EdgeCount(), directed ? 0 : 1);
        EXPECT_EQ(c->InDegree(), 1);
        EXPECT_FALSE(g.RemoveNode(b));
    }
}

TEST(GGraph, ExtractedNodeTakesNoEdgesAlong) {
    TGGraph g(nullptr);
    g.SetDirected(true);
    TGGraphNode* a = g.NewNode("a");
    TGGraphNode* b = g.NewNode("b");
    a->ConnectTo(b);
    g.ExtractNode(b);
    EXPECT_EQ(b->Graph(), nullptr);
    EXPECT_EQ(a->EdgeCount(), 0);
    EXPECT_EQ(b->InDegree(), 0);
    EXPECT_EQ(g.NodeCount(), 1);
    delete b;
}

TEST(GGraph, LinkedNodeListsIncomingEdges) {
    TGGraph g(nullptr);
    g.SetDirected(true);
    g.SetNodeClass([](TGCustomGraph* gr) { return new TGLinkedGraphNode(gr); });
    auto* a = g.NewNode("a");
    auto* b = g.NewNode("b");
    auto* c = static_cast<TGLinkedGraphNode*>(g.NewNode("c"));
    TGGraphEdge* e1 = a->ConnectTo(c);
    TGGraphEdge* e2 = b->ConnectTo(c);
    EXPECT_EQ(c->LinkedEdges(), (std::vector<TGGraphEdge*>{e1, e2}));
    delete e1;
    EXPECT_EQ(c->LinkedEdges(), (std::vector<TGGraphEdge*>{e2}));
}

namespace {

struct TWeighted {
    TGGraph g{nullptr};
    TWeightedNode* Node(const char* caption) {
        return static_cast<TWeightedNode*>(g.NewNode(caption));
    }
    TWeighted() {
        g.SetNodeClass([](TGCustomGraph* gr) { return new TWeightedNode(gr); });
    }
    static void Link(TWeightedNode* a, TWeightedNode* b, TGraphWeight w) {
        static_cast<TWeightedEdge*>(a->ConnectTo(b))->SetWeight(w);
    }
};

} // namespace

TEST(GGraph, ShortestPaths) {
    TWeighted w;
    w.g.SetDirected(true);
    w.g.StorePaths = true;
    auto* s = w.Node("s");
    auto* a = w.Node("a");
    auto* b = w.Node("b");
    auto* c = w.Node("c");
    auto* lone = w.Node("lone");
    TWeighted::Link(s, a, 7);
    TWeighted::Link(s, b, 2);
    TWeighted::Link(b, a, 3);
    TWeighted::Link(a, c, 1);
    w.g.ShortestPaths(s);
    EXPECT_EQ(s->Weight(), 0);
    EXPECT_EQ(b->Weight(), 2);
    EXPECT_EQ(a->Weight(), 5);
    EXPECT_EQ(c->Weight(), 6);
    EXPECT_EQ(lone->Weight(), GraphInfinity);
    EXPECT_EQ(c->ShortestPathCaptions(), (Strings{"s", "b", "a", "c"}));
    EXPECT_EQ(a->ShortestPathCaptions(), (Strings{"s", "b", "a"}));

    w.g.ShortestPaths(lone);
    for (auto* n : {s, a, b, c})
        EXPECT_EQ(n->Weight(), GraphInfinity);
    EXPECT_EQ(lone->Weight(), 0);
}

TEST(GGraph, ShortestPathSumsSaturate) {
    TWeighted w;
    w.g.SetDirected(true);
    auto* s = w.Node("s");
    auto* a = w.Node("a");
    auto* b = w.Node("b");
    auto* c = w.Node("c");
    TWeighted::Link(s, a, 2147483000);
    TWeighted::Link(a, b, 1000); // the true sum does not fit 32 bits
    TWeighted::Link(s, c, 5);
    TWeighted::Link(c, b, 2147483640); // still finite: 2147483645
    w.g.ShortestPaths(s);
    EXPECT_EQ(b->Weight(), 2147483645);

    TWeighted v;
    v.g.SetDirected(true);
    auto* s2 = v.Node("s");
    auto* a2 = v.Node("a");
    auto* b2 = v.Node("b");
    TWeighted::Link(s2, a2, 2147483000);
    TWeighted::Link(a2, b2, 1000);
    v.g.ShortestPaths(s2);
    EXPECT_EQ(b2->Weight(), GraphInfinity);
}

TEST(GGraph, AssignMapsNodesByIndex) {
    TWeighted w;
    w.g.SetDirected(true);
    auto* x1 = w.Node("x");
    auto* x2 = w.Node("x"); // same caption
    auto* y = w.Node("y");
    TWeighted::Link(x2, y, 9);
    TWeighted::Link(y, x1, 4);
    x2->SetWeight(3);

    TGGraph copy(nullptr);
    copy.Assign(&w.g);
    ASSERT_EQ(copy.NodeCount(), 3);
    EXPECT_TRUE(copy.Directed());
    EXPECT_EQ(copy.Nodes(0)->ClassName(), "TWeightedNode");
    EXPECT_EQ(copy.Nodes(0)->EdgeCount(), 0);
    ASSERT_EQ(copy.Nodes(1)->EdgeCount(), 1);
    auto* e = dynamic_cast<TWeightedEdge*>(copy.Nodes(1)->Edges(0));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Weight(), 9);
    EXPECT_EQ(e->ToNode(), copy.Nodes(2));
    EXPECT_EQ(copy.Nodes(2)->Edges(0)->ToNode(), copy.Nodes(0));
    EXPECT_EQ(static_cast<TWeightedNode*>(copy.Nodes(1))->Weight(), 3);
    EXPECT_EQ(copy.Nodes(0)->InDegree(), 1);
    EXPECT_TRUE(copy.IsValid() == w.g.IsValid());

    copy.Assign(&copy); // no-op
    EXPECT_EQ(copy.NodeCount(), 3);
    TGGraphNode node(nullptr);
    EXPECT_THROW(copy.Assign(&node), EConvertError);
}

TEST(GGraph, StoredFormRoundTrip) {
    TWeighted w;
    auto* a = w.Node("a");
    auto* b = w.Node("b b");
    TWeighted::Link(a, b, -12);
    TWeighted::Link(b, b, 70000);
    b->SetWeight(5);
    w.g.SetDirected(true);

    TMemoryStream stream;
    {
        TWriter writer(stream);
        writer.WriteProperties(w.g);
    }
    stream.SetPosition(0);
    TGGraph back(nullptr);
    TReader reader(stream);
    reader.ReadProperties(back);
    EXPECT_TRUE(back.Directed());
    ASSERT_EQ(back.NodeCount(), 2);
    EXPECT_EQ(back.Nodes(1)->Caption(), "b b");
    EXPECT_EQ(static_cast<TWeightedNode*>(back.Nodes(1))->Weight(), 5);
    ASSERT_EQ(back.Nodes(0)->EdgeCount(), 1);
    EXPECT_EQ(static_cast<TWeightedEdge*>(back.Nodes(0)->Edges(0))->Weight(), -12);
    ASSERT_EQ(back.Nodes(1)->EdgeCount(), 1);
    EXPECT_EQ(back.Nodes(1)->Edges(0)->ToNode(), back.Nodes(1));
    EXPECT_EQ(static_cast<TWeightedEdge*>(back.Nodes(1)->Edges(0))->Weight(), 70000);
}

TEST(GGraph, StoredFormRejectsBadInput) {
    TMemoryStream stream;
    {
        TWriter writer(stream);
        writer.WritePropName("NodeNEdges");
        writer.WriteInteger(1);
        writer.WriteString("TGGraphNode");
        writer.WriteString("only");
        writer.WriteListBegin();
        writer.WriteString("TGGraphEdge");
        writer.WriteInteger(0);
        writer.WriteInteger(3); // no such node
        writer.WriteListEnd();
        writer.WriteListEnd();
    }
    stream.SetPosition(0);
    TGGraph g(nullptr);
    TReader reader(stream);
    EXPECT_THROW(reader.ReadProperties(g), EReadError);

    TMemoryStream unknown;
    {
        TWriter writer(unknown);
        writer.WritePropName("NodeNEdges");
        writer.WriteInteger(1);
        writer.WriteString("TNoSuchNode");
    }
    unknown.SetPosition(0);
    TReader r2(unknown);
    EXPECT_THROW(r2.ReadProperties(g), EClassNotFound);
}

TEST(GGraph, EventsAndUpdates) {
    TGGraph g(nullptr);
    int changes = 0, added = 0, removed = 0;
    std::string renamedTo;
    g.OnChange = [&](TObject*) { ++changes; };
    g.OnAddNode = [&](TObject*, TGGraphNode*) { ++added; };
    g.OnRemoveNode = [&](TObject*, TGGraphNode*) { ++removed; };
    g.OnNodeCaptionChange = [&](TObject*, TGGraphNode* n, const std::string& c) {
        renamedTo = n->Caption() + "->" + c; // still the old caption
    };
    g.BeginUpdate();
    TGGraphNode* a = g.NewNode("a");
    g.NewNode("b");
    EXPECT_EQ(changes, 0);
    g.EndUpdate();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(added, 2);
    a->SetCaption("z");
    EXPECT_EQ(renamedTo, "a->z");
    EXPECT_EQ(g.FindNode("z"), a);
    EXPECT_EQ(g.FindNode("Z"), nullptr);
    g.RemoveNode(a);
    EXPECT_EQ(removed, 1);
}

TEST(GGraph, DepthFirstVisitMarksReachableNodes) {
    TGGraph g(nullptr);
    g.SetDirected(true);
    auto* a = g.NewNode("a");
    auto* b = g.NewNode("b");
    auto* c = g.NewNode("c");
    auto* d = g.NewNode("d");
    a->ConnectTo(b);
    b->ConnectTo(c);
    c->ConnectTo(a);
    g.DepthFirstVisit(a);
    EXPECT_TRUE(a->Visited() && b->Visited() && c->Visited());
    EXPECT_FALSE(d->Visited());
}
