// Arithmetic kernels of the hybrid and polyphase filterbanks, written once for a lane type T:
// float (one subband or time slot at a time) or an 8-lane vector (eight at a time). hybrid.cpp
// and synthesis.cpp include this file twice, into a portable namespace and into one compiled
// for AVX2, so both paths perform the same single-precision operations in the same order and
// give identical results. No include guard: it is meant to be included more than once.
//
// Needs before inclusion: the tables of decoder/tables/hybrid_tables.h and synthesis_tables.h.

// 9-point cosine transform out[m] = sum over r of a[r] * cos(10 degrees * (2m + 1) * r),
// by its even and odd halves: outputs m and 8 - m share both halves with opposite signs.
template <class T>
inline __attribute__((always_inline)) void Cosine9(const T* a, T* out) {
  const float c10 = Imdct9Cos[0], c20 = Imdct9Cos[1], c30 = Imdct9Cos[2], c40 = Imdct9Cos[3];
  const float c50 = Imdct9Cos[4], c70 = Imdct9Cos[5], c80 = Imdct9Cos[6];
  const T t0 = a[0] + a[6] * 0.5f;
  const T e0 = t0 + a[2] * c20 + a[4] * c40 + a[8] * c80;
  const T e1 = (a[0] - a[6]) + (a[2] - a[4] - a[8]) * 0.5f;
  const T e2 = t0 - a[2] * c80 - a[4] * c20 + a[8] * c40;
  const T e3 = t0 - a[2] * c40 + a[4] * c80 - a[8] * c20;
  const T o0 = a[1] * c10 + a[3] * c30 + a[5] * c50 + a[7] * c70;
  const T o1 = (a[1] - a[5] - a[7]) * c30;
  const T o2 = a[1] * c50 - a[3] * c30 - a[5] * c70 + a[7] * c10;
  const T o3 = a[1] * c70 - a[3] * c30 + a[5] * c10 - a[7] * c50;
  out[0] = e0 + o0;
  out[8] = e0 - o0;
  out[1] = e1 + o1;
  out[7] = e1 - o1;
  out[2] = e2 + o2;
  out[6] = e2 - o2;
  out[3] = e3 + o3;
  out[5] = e3 - o3;
  out[4] = a[0] - a[2] + a[4] - a[6] + a[8];
}

// Long block: the 36 windowed IMDCT samples z of the 18 values x (x is overwritten), handed
// out in pairs: emit(i, z[i], z[18 + i]) for i = 0..17, once each.
// The IMDCT is the DCT-IV c[m] = sum over k of x[k] * cos(pi/72 * (2m + 1) * (2k + 1)),
// unfolded: y[i] = c[9 + i] (i = 0..8), -c[26 - i] (i = 9..26), -c[i - 27] (i = 27..35). The
// pair c[m], c[17 - m] (m = 0..8) gives samples 8 - m, 9 + m, 26 - m and 27 + m, so each pair
// is windowed and handed out as soon as it is known.
template <class T, class Emit>
inline __attribute__((always_inline)) void LongKernel(T* x, const float* window, Emit emit) {
  for (int k = 17; k >= 1; --k) x[k] = x[k] + x[k - 1];
  for (int k = 17; k >= 3; k -= 2) x[k] = x[k] + x[k - 2];
  T even[9], odd[9], e[9], o[9];
  for (int r = 0; r < 9; ++r) {
    even[r] = x[2 * r];
    odd[r] = x[2 * r + 1];
  }
  Cosine9(even, e);
  Cosine9(odd, o);
  for (int m = 0; m < 9; ++m) {
    const T om = o[m] * Imdct36OddFactor[m];
    const T low = (e[m] + om) * Imdct36OutputFactor[m];        // c[m]
    const T high = (e[m] - om) * Imdct36OutputFactor[17 - m];  // c[17 - m]
    emit(8 - m, high * window[8 - m], -low * window[26 - m]);
    emit(9 + m, -high * window[9 + m], -low * window[27 + m]);
  }
}

// Short blocks: three 12-point IMDCTs of the windows' six values each (x[6w + k]), windowed
// and overlapped within the 36-sample block u.
template <class T>
inline __attribute__((always_inline)) void ShortKernel(const T* in, T* u) {
  for (int i = 0; i < 6; ++i) u[i] = u[30 + i] = T{};
  for (int w = 0; w < 3; ++w) {
    T x[6];
    for (int k = 0; k < 6; ++k) x[k] = in[6 * w + k];
    for (int k = 5; k >= 1; --k) x[k] = x[k] + x[k - 1];
    x[5] = x[5] + x[3];
    x[3] = x[3] + x[1];
    const T e0 = x[0] + x[2] * Sqrt3Half + x[4] * 0.5f;
    const T e1 = x[0] - x[4];
    const T e2 = x[0] - x[2] * Sqrt3Half + x[4] * 0.5f;
    const T o0 = (x[1] + x[3] * Sqrt3Half + x[5] * 0.5f) * Imdct12OddFactor[0];
    const T o1 = (x[1] - x[5]) * Imdct12OddFactor[1];
    const T o2 = (x[1] - x[3] * Sqrt3Half + x[5] * 0.5f) * Imdct12OddFactor[2];
    T c[6];
    c[0] = (e0 + o0) * Imdct12OutputFactor[0];
    c[5] = (e0 - o0) * Imdct12OutputFactor[5];
    c[1] = (e1 + o1) * Imdct12OutputFactor[1];
    c[4] = (e1 - o1) * Imdct12OutputFactor[4];
    c[2] = (e2 + o2) * Imdct12OutputFactor[2];
    c[3] = (e2 - o2) * Imdct12OutputFactor[3];
    // y[i] = c[3 + i] (i = 0..2), -c[8 - i] (i = 3..8), -c[i - 9] (i = 9..11), windowed; its
    // first half adds to the previous window's second half.
    T y[12];
    for (int i = 0; i < 3; ++i) y[i] = c[3 + i] * ShortWindow[i];
    for (int i = 3; i < 9; ++i) y[i] = -c[8 - i] * ShortWindow[i];
    for (int i = 9; i < 12; ++i) y[i] = -c[i - 9] * ShortWindow[i];
    T* dst = u + 6 + 6 * w;
    for (int i = 0; i < 6; ++i) dst[i] = w == 0 ? y[i] : dst[i] + y[i];
    for (int i = 6; i < 12; ++i) dst[i] = y[i];
  }
}

// X[m] = sum over k of x[k] * cos(m * (2k + 1) * pi/(2N)) by butterflies: the even outputs are
// the N/2-point transform of the sums x[k] + x[N-1-k]; the N/2-point transform of the weighted
// differences (x[k] - x[N-1-k]) * 2 cos((2k + 1) pi/(2N)) gives X[2m+1] + X[2m-1] (X[-1] = X[1]),
// so the odd outputs follow by a chain of subtractions.
template <class T, int N>
inline __attribute__((always_inline)) void Matrix(const T* x, T* X) {
  if constexpr (N == 1) {
    X[0] = x[0];
  } else {
    constexpr int H = N / 2;
    T sum[H], diff[H], even[H], odd[H];
    for (int k = 0; k < H; ++k) {
      sum[k] = x[k] + x[N - 1 - k];
      diff[k] = (x[k] - x[N - 1 - k]) * MatrixingCosines[(32 / N) * (2 * k + 1) - 1];
    }
    Matrix<T, H>(sum, even);
    Matrix<T, H>(diff, odd);
    for (int m = 0; m < H; ++m) X[2 * m] = even[m];
    X[1] = odd[0] * 0.5f;
    for (int m = 1; m < H; ++m) X[2 * m + 1] = odd[m] - X[2 * m - 1];
  }
}
