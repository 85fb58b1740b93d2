#ifndef VOXGRID_CHECKED_STREAM_H
#define VOXGRID_CHECKED_STREAM_H

#include <cerrno>
#include <ios>
#include <ostream>
#include <streambuf>

namespace voxgrid {

// An output stream onto another stream's buffer that remembers why a write
// failed: errno is read at once, before anything else can overwrite it.
class CheckedStream : public std::ostream {
public:
  CheckedStream() : std::ostream(&buf_) {}
  explicit CheckedStream(std::streambuf* target) : CheckedStream() { retarget(target); }
  void retarget(std::streambuf* target) { buf_.target = target; }
  // errno of the first failed write (EIO if the system gave none), or 0.
  int error() const { return buf_.error != 0 ? buf_.error : (good() ? 0 : EIO); }

private:
  struct Buf : std::streambuf {
    std::streambuf* target = nullptr;
    int error = 0;
    int_type overflow(int_type c) override {
      if (traits_type::eq_int_type(c, traits_type::eof())) {
        return sync() == 0 ? traits_type::not_eof(c) : traits_type::eof();
      }
      errno = 0;
      const int_type r = target->sputc(traits_type::to_char_type(c));
      if (traits_type::eq_int_type(r, traits_type::eof())) {
        note();
      }
      return r;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
      errno = 0;
      const std::streamsize written = target->sputn(s, n);
      if (written != n) {
        note();
      }
      return written;
    }
    int sync() override {
      errno = 0;
      const int r = target->pubsync();
      if (r != 0) {
        note();
      }
      return r;
    }
    void note() {
      if (error == 0) {
        error = errno != 0 ? errno : EIO;
      }
    }
  };
  Buf buf_;
};

} // namespace voxgrid

#endif
