#ifndef VOXGRID_LAYOUT_EIGEN_TENSOR_H
#define VOXGRID_LAYOUT_EIGEN_TENSOR_H

#include <voxgrid/layout.h>

#include <unsupported/Eigen/CXX11/Tensor>

#include <optional>

namespace voxgrid {

// Eigen::Tensor<T, 3, RowMajor> as Eigen's documentation builds it:
// constructed with its dimensions, which allocates one aligned block and
// leaves it uninitialised, so the parallel fill touches it first; written and
// read as g(i, j, k). Held in an optional so that release gives the block back.
template <class T> class EigenTensorOf : NoCopy {
public:
  static constexpr const char* kMemory =
      "one block from malloc, left uninitialised and first touched by the fill";
  using Grid = Eigen::Tensor<T, 3, Eigen::RowMajor>;
  explicit EigenTensorOf(const Shape& s) : s_(s) {}
  void build() {
    elementCount(s_);
    grid_.emplace(s_.nx, s_.ny, s_.nz);
  }
  auto at() {
    return [g = &*grid_](int i, int j, int k) -> T& { return (*g)(i, j, k); };
  }
  void release() { grid_.reset(); }

private:
  Shape s_;
  std::optional<Grid> grid_;
};
using EigenTensor = EigenTensorOf<int>;

} // namespace voxgrid

#endif
