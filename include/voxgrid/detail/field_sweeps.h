#ifndef VOXGRID_DETAIL_FIELD_SWEEPS_H
#define VOXGRID_DETAIL_FIELD_SWEEPS_H

#include <voxgrid/access.h>
#include <voxgrid/detail/checks.h>
#include <voxgrid/element.h>
#include <voxgrid/shape.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

namespace voxgrid {

// The sweeps of a grid whose voxels hold several fields, each written once
// over a layout's field access f(i, j, k, field) and each checked outside its
// timed passes. Field `field` of voxel n holds fieldValue(n, field).

// The element a field access f(i, j, k, field) gives a reference to.
template <class Access>
using FieldElementOf = std::remove_reference_t<decltype(std::declval<Access&>()(0, 0, 0, 0))>;

// D3Q19's directions, the rest first, then the six faces and the twelve
// edges: field f of the streaming step moves along kD3Q19[f].
struct Direction {
  int i, j, k;
};
constexpr Direction kD3Q19[kMaxFields] = {
    {0, 0, 0},  {1, 0, 0},   {-1, 0, 0},  {0, 1, 0},  {0, -1, 0}, {0, 0, 1},   {0, 0, -1},
    {1, 1, 0},  {-1, -1, 0}, {1, -1, 0},  {-1, 1, 0}, {1, 0, 1},  {-1, 0, -1}, {1, 0, -1},
    {-1, 0, 1}, {0, 1, 1},   {0, -1, -1}, {0, 1, -1}, {0, -1, 1}};

// Every field of every voxel, one parallel loop over i, static schedule, so
// that each thread first touches its own slices; k innermost within a field,
// so that a row of one field is one loop, whatever the arrangement.
template <class Access> void fillFields(Access access, const Shape& s) {
  using T = FieldElementOf<Access>;
  const int nx = s.nx, ny = s.ny, nz = s.nz, fields = s.fields;
#pragma omp parallel
  {
    ThreadAccess<Access> g = access;
#pragma omp for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        for (int f = 0; f < fields; ++f) {
          const ValueRun<T> value((std::int64_t{i} * ny + j) * nz + f * kFieldStep);
          for (int k = 0; k < nz; ++k) {
            g(i, j, k, f) = value[k];
          }
        }
      }
    }
  }
}

// The pointwise update that reads every field of a voxel: field f weighs
// f + 1, and the voxels' weighted sums are added up, in the type's sum.
template <class Access> auto fieldsSweep(Access access, const Shape& s) {
  using Sum = SumOf<FieldElementOf<Access>>;
  const int nx = s.nx, ny = s.ny, nz = s.nz, fields = s.fields;
  Sum total = 0;
#pragma omp parallel reduction(+ : total)
  {
    ThreadAccess<Access> g = access;
#pragma omp for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        for (int k = 0; k < nz; ++k) {
          Sum voxel = 0;
          for (int f = 0; f < fields; ++f) {
            voxel += static_cast<Sum>(f + 1) * g(i, j, k, f);
          }
          total += voxel;
        }
      }
    }
  }
  return total;
}

// The streaming step of a lattice Boltzmann code, pull form: field f of
// interior voxel x is field f of voxel x - kD3Q19[f] of the input. Row by
// row, a field at a time, k innermost; the boundary of `out` is left as it is.
template <class In, class Out>
void streamSweep(In access, Out outAccess, const Shape& s, const Direction* directions = kD3Q19) {
  const int nx = s.nx, ny = s.ny, nz = s.nz, fields = s.fields;
#pragma omp parallel
  {
    ThreadAccess<In> g = access;
    ThreadAccess<Out> out = outAccess;
#pragma omp for schedule(static)
    for (int i = 1; i < nx - 1; ++i) {
      for (int j = 1; j < ny - 1; ++j) {
        for (int f = 0; f < fields; ++f) {
          const Direction c = directions[f];
          for (int k = 1; k < nz - 1; ++k) {
            out(i, j, k, f) = g(i - c.i, j - c.j, k - c.k, f);
          }
        }
      }
    }
  }
}

namespace field_detail {

template <class Access> auto oneField(Access g, int f) {
  return [g, f](int i, int j, int k) { return g(i, j, k, f); };
}

inline std::string voxel(Element e, int f) {
  return "voxel (" + std::to_string(e.i) + ", " + std::to_string(e.j) + ", " + std::to_string(e.k) +
         ") field " + std::to_string(f);
}

} // namespace field_detail

// Every field of every voxel holds its value; the first that does not is
// named with its field.
template <class Access> void checkFieldsFill(Access g, const Shape& s) {
  using T = FieldElementOf<Access>;
  const int ny = s.ny, nz = s.nz;
  for (int f = 0; f < s.fields; ++f) {
    const auto row = [ny, nz, f](int i, int j) {
      return [value = ValueRun<T>((std::int64_t{i} * ny + j) * nz + f * kFieldStep)](int k) {
        return value[k];
      };
    };
    const std::int64_t at = firstMismatch(field_detail::oneField(g, f), s.nx, ny, nz, row);
    if (at >= 0) {
      const Element e = elementAt(at, ny, nz);
      throw std::runtime_error("fill: " + field_detail::voxel(e, f) + " holds " +
                               valueText(g(e.i, e.j, e.k, f)) + ", expected " +
                               valueText(fieldValue<T>(at, f)));
    }
  }
}

// What fieldsSweep must give, without the grid: field f's values are those
// of the elements f x kFieldStep on.
template <class T> SumOf<T> expectedFieldsSum(const Shape& s) {
  const std::int64_t n = elementCount(s);
  SumOf<T> total = 0;
  for (int f = 0; f < s.fields; ++f) {
    const std::int64_t from = f * kFieldStep;
    total += static_cast<SumOf<T>>(f + 1) * expectedSumOf<T>(from, from + n);
  }
  return total;
}

template <class T> void checkFieldsSum(SumOf<T> got, const Shape& s) {
  const SumOf<T> expected = expectedFieldsSum<T>(s);
  if (got != expected) {
    throw std::runtime_error("fields: got " + valueText(got) + ", expected " + valueText(expected) +
                             " (field f weighs f + 1)");
  }
}

// The streaming step's output over the fill: inside, each field from its
// neighbour along its direction; on the boundary, the fill itself.
template <class Access> void checkStream(Access out, const Shape& s) {
  using T = FieldElementOf<Access>;
  const int nx = s.nx, ny = s.ny, nz = s.nz;
  for (int f = 0; f < s.fields; ++f) {
    const Direction c = kD3Q19[f];
    const auto expectedAt = [=](int i, int j, int k) {
      const bool inside = i > 0 && i < nx - 1 && j > 0 && j < ny - 1 && k > 0 && k < nz - 1;
      const std::int64_t from = inside ? ((std::int64_t{i - c.i} * ny + (j - c.j)) * nz + (k - c.k))
                                       : ((std::int64_t{i} * ny + j) * nz + k);
      return fieldValue<T>(from, f);
    };
    const auto row = [=](int i, int j) { return [=](int k) { return expectedAt(i, j, k); }; };
    const std::int64_t at = firstMismatch(field_detail::oneField(out, f), nx, ny, nz, row);
    if (at >= 0) {
      const Element e = elementAt(at, ny, nz);
      const bool inside =
          e.i > 0 && e.i < nx - 1 && e.j > 0 && e.j < ny - 1 && e.k > 0 && e.k < nz - 1;
      const std::string from = inside ? " (the input's, from voxel (" + std::to_string(e.i - c.i) +
                                            ", " + std::to_string(e.j - c.j) + ", " +
                                            std::to_string(e.k - c.k) + "))"
                                      : " (the boundary keeps its fill)";
      throw std::runtime_error("stream: " + field_detail::voxel(e, f) + " of the output holds " +
                               valueText(out(e.i, e.j, e.k, f)) + ", expected " +
                               valueText(expectedAt(e.i, e.j, e.k)) + from);
    }
  }
}

} // namespace voxgrid

#endif
