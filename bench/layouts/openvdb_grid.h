#ifndef VOXGRID_LAYOUT_OPENVDB_GRID_H
#define VOXGRID_LAYOUT_OPENVDB_GRID_H

#include "brick_stencil.h"
#include <voxgrid/layout.h>

#include <openvdb/openvdb.h>
#include <tbb/global_control.h>

#include <omp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace voxgrid {

// An OpenVDB grid of T (openvdb::Int32Grid for int, FloatGrid, DoubleGrid, and
// the same tree of 8^3 leaves for uint16 and uint8), filled densely. It is
// built the way OpenVDB makes a dense region: the box filled with active
// tiles, then voxelizeActiveTiles() turning them into leaves in parallel, on
// OpenVDB's own TBB threads, capped at the suite's team so that a 1-thread
// sample is one thread. The leaves' values are then written leaf by leaf.
//
// g(i, j, k) goes through a value accessor, which caches the path to the last
// leaf it visited, one per thread, as OpenVDB's users give every thread one.
// The element is returned by reference from that leaf, since the suite writes
// through g.
template <class T> class OpenVdbGridOf : NoCopy {
public:
  static constexpr const char* kMemory = "a block per 8x8x8 leaf, allocated as the fill reaches it";
  using Tree = typename openvdb::tree::Tree4<T, 5, 4, 3>::Type;
  using Grid = openvdb::Grid<Tree>;
  using Leaf = typename Tree::LeafNodeType;
  static constexpr int kEdge = Leaf::DIM; // 8
  static_assert(kEdge * kEdge * kEdge == int(Leaf::SIZE), "a leaf is a brick");

  explicit OpenVdbGridOf(const Shape& s) : s_(s) {}

  // The leaves (a node and its 8^3 values each) and the two levels above,
  // as many as the box spans; the root's map is left out.
  static std::size_t bytes(const Shape& s) {
    const auto span = [&](int log2) {
      const auto n = [&](int e) { return (std::size_t(e) + (1u << log2) - 1) >> log2; };
      return n(s.nx) * n(s.ny) * n(s.nz);
    };
    using Upper = typename Tree::RootNodeType::ChildNodeType;
    using Lower = typename Upper::ChildNodeType;
    return span(Leaf::TOTAL) * (sizeof(Leaf) + Leaf::SIZE * sizeof(T)) +
           span(Lower::TOTAL) * sizeof(Lower) + span(Upper::TOTAL) * sizeof(Upper);
  }

  void build() {
    elementCount(s_);
    grid_ = Grid::create(T{0});
    if (s_.nx > 0 && s_.ny > 0 && s_.nz > 0) {
      const tbb::global_control team(tbb::global_control::max_allowed_parallelism,
                                     std::size_t(omp_get_max_threads()));
      Tree& tree = grid_->tree();
      tree.fill(box(), T{0}, true);
      tree.voxelizeActiveTiles(true);
      tree.getNodes(leaves_); // in the tree's order: x, then y, then z
    }
  }

  // Each element's linear index, leaf by leaf, each thread its own leaves.
  void fill() {
    const std::ptrdiff_t count = std::ptrdiff_t(leaves_.size());
#pragma omp parallel for schedule(static)
    for (std::ptrdiff_t n = 0; n < count; ++n) {
      Leaf& leaf = *leaves_[std::size_t(n)];
      T* const v = leaf.buffer().data();
      const openvdb::Coord& o = leaf.origin();
      const int ni = std::min(kEdge, s_.nx - o.x()), nj = std::min(kEdge, s_.ny - o.y());
      const int nk = std::min(kEdge, s_.nz - o.z());
      for (int ii = 0; ii < ni; ++ii) {
        for (int jj = 0; jj < nj; ++jj) {
          const ValueRun<T> value((std::int64_t{o.x() + ii} * s_.ny + o.y() + jj) * s_.nz + o.z());
          for (int kk = 0; kk < nk; ++kk) {
            v[(ii * kEdge + jj) * kEdge + kk] = value[kk];
          }
        }
      }
    }
  }

  // g(i, j, k) through an accessor; each sweep's thread copies g, and so
  // holds an accessor of its own.
  struct Access {
    mutable typename Grid::Accessor cache;
    T& operator()(int i, int j, int k) const {
      const openvdb::Coord xyz(i, j, k);
      return cache.probeLeaf(xyz)->buffer().data()[Leaf::coordToOffset(xyz)];
    }
  };
  Access at() { return Access{grid_->getAccessor()}; }

  void release() {
    leaves_.clear();
    leaves_.shrink_to_fit();
    grid_.reset();
  }

  // The sum leaf by leaf: a whole leaf's 512 values as one run, a leaf cut by
  // the box's edge through its active values, the way OpenVDB visits them.
  SumOf<T> ownSum() const {
    const std::ptrdiff_t count = std::ptrdiff_t(leaves_.size());
    SumOf<T> total = 0;
#pragma omp parallel for schedule(static) reduction(+ : total)
    for (std::ptrdiff_t n = 0; n < count; ++n) {
      const Leaf& leaf = *leaves_[std::size_t(n)];
      if (leaf.isDense()) {
        const T* const v = leaf.buffer().data();
        for (int slot = 0; slot < int(Leaf::SIZE); ++slot) {
          total += v[slot];
        }
      } else {
        for (auto it = leaf.cbeginValueOn(); it; ++it) {
          total += *it;
        }
      }
    }
    return total;
  }

  // The stencil leaf by leaf, the six leaves beside each found once through
  // the thread's accessor; both grids were built alike, so leaf n of one is
  // leaf n of the other.
  void ownStencil(OpenVdbGridOf& out) const {
    const std::ptrdiff_t count = std::ptrdiff_t(leaves_.size());
    const Tree& tree = grid_->tree();
#pragma omp parallel
    {
      typename Grid::ConstAccessor near(tree);
      const auto beside = [&](const openvdb::Coord& o, int di, int dj, int dk) -> const T* {
        const Leaf* l = near.probeConstLeaf(o.offsetBy(di * kEdge, dj * kEdge, dk * kEdge));
        return l == nullptr ? nullptr : l->buffer().data();
      };
#pragma omp for schedule(static)
      for (std::ptrdiff_t n = 0; n < count; ++n) {
        const Leaf& leaf = *leaves_[std::size_t(n)];
        const openvdb::Coord& o = leaf.origin();
        const BrickNeighbours<T> nb{leaf.buffer().data(), beside(o, -1, 0, 0), beside(o, 1, 0, 0),
                                    beside(o, 0, -1, 0),  beside(o, 0, 1, 0),  beside(o, 0, 0, -1),
                                    beside(o, 0, 0, 1)};
        const auto from = [](int origin) { return std::max(origin, 1) - origin; };
        const auto to = [](int origin, int extent) {
          return std::min(origin + kEdge, extent - 1) - origin;
        };
        stencilBrick<kEdge>(out.leaves_[std::size_t(n)]->buffer().data(), nb, from(o.x()),
                            to(o.x(), s_.nx), from(o.y()), to(o.y(), s_.ny), from(o.z()),
                            to(o.z(), s_.nz));
      }
    }
  }

private:
  openvdb::CoordBBox box() const {
    return {openvdb::Coord(0, 0, 0), openvdb::Coord(s_.nx - 1, s_.ny - 1, s_.nz - 1)};
  }
  Shape s_;
  typename Grid::Ptr grid_;
  std::vector<Leaf*> leaves_; // the tree's, in its order
};

using OpenVdbGrid = OpenVdbGridOf<int>;

} // namespace voxgrid

#endif
