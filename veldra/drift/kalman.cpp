#include "veldra/drift/kalman.h"

// Every operation computes into a local first, so a result may alias an argument.

void MatrixProduct(const Matrix2& a, const Matrix2& b, Matrix2& result) {
    const Matrix2 product{a.m00 * b.m00 + a.m01 * b.m10, a.m00 * b.m01 + a.m01 * b.m11,
                          a.m10 * b.m00 + a.m11 * b.m10, a.m10 * b.m01 + a.m11 * b.m11};
    result = product;
}

void MatrixTimesVector(const Matrix2& m, const Vector2& v, Vector2& result) {
    const Vector2 product{m.m00 * v.v0 + m.m01 * v.v1, m.m10 * v.v0 + m.m11 * v.v1};
    result = product;
}

void VectorSum(const Vector2& a, const Vector2& b, Vector2& result) {
    result = Vector2{a.v0 + b.v0, a.v1 + b.v1};
}

void VectorDifference(const Vector2& a, const Vector2& b, Vector2& result) {
    result = Vector2{a.v0 - b.v0, a.v1 - b.v1};
}

void MatrixSum(const Matrix2& a, const Matrix2& b, Matrix2& result) {
    result = Matrix2{a.m00 + b.m00, a.m01 + b.m01, a.m10 + b.m10, a.m11 + b.m11};
}

void MatrixDifference(const Matrix2& a, const Matrix2& b, Matrix2& result) {
    result = Matrix2{a.m00 - b.m00, a.m01 - b.m01, a.m10 - b.m10, a.m11 - b.m11};
}

void Transpose(const Matrix2& m, Matrix2& result) {
    result = Matrix2{m.m00, m.m10, m.m01, m.m11};
}

void Inverse(const Matrix2& m, Matrix2& result) {
    const double det = m.m11 * m.m00 - m.m10 * m.m01;
    result = Matrix2{m.m11 / det, -m.m01 / det, -m.m10 / det, m.m00 / det};
}

void Identity(Matrix2& result) {
    result = Matrix2{1, 0, 0, 1};
}

void ZeroMatrix(Matrix2& result) {
    result = Matrix2{};
}

void ZeroVector(Vector2& result) {
    result = Vector2{};
}

void Scale(const Matrix2& m, double factor, Matrix2& result) {
    result = Matrix2{m.m00 * factor, m.m01 * factor, m.m10 * factor, m.m11 * factor};
}

void KalmanInit(KalmanFilter& filter, double r0, double r1, double p0) {
    ZeroVector(filter.x);
    ZeroMatrix(filter.B);
    Matrix2 identity;
    Identity(identity);
    Scale(identity, p0, filter.P);
    ZeroMatrix(filter.Q);
    ZeroMatrix(filter.R);
    filter.R.m00 = r0;
    filter.R.m11 = r1;
    Identity(filter.H);
}

void KalmanStep(KalmanFilter& filter, const Vector2& u, const Vector2& z, const Matrix2& F) {
    // Predicted state: xp = F x + B u.
    Vector2 fx, bu, xp;
    MatrixTimesVector(F, filter.x, fx);
    MatrixTimesVector(filter.B, u, bu);
    VectorSum(fx, bu, xp);

    // Predicted covariance: Pp = (F P) F' + Q.
    Matrix2 fp, ft, pp;
    MatrixProduct(F, filter.P, fp);
    Transpose(F, ft);
    MatrixProduct(fp, ft, pp);
    MatrixSum(pp, filter.Q, pp);

    // Innovation: y = z - H xp.
    Vector2 hxp, y;
    MatrixTimesVector(filter.H, xp, hxp);
    VectorDifference(z, hxp, y);

    // Innovation covariance: S = (H Pp) H' + R.
    Matrix2 hpp, ht, s;
    MatrixProduct(filter.H, pp, hpp);
    Transpose(filter.H, ht);
    MatrixProduct(hpp, ht, s);
    MatrixSum(s, filter.R, s);

    // Gain: K = (Pp H') S^-1.
    Matrix2 ppht, sInverse, k;
    MatrixProduct(pp, ht, ppht);
    Inverse(s, sInverse);
    MatrixProduct(ppht, sInverse, k);

    // New state: x = K y + xp.
    Vector2 ky;
    MatrixTimesVector(k, y, ky);
    VectorSum(ky, xp, filter.x);

    // New covariance: P = (I - K H) Pp.
    Matrix2 identity, kh, ikh;
    Identity(identity);
    MatrixProduct(k, filter.H, kh);
    MatrixDifference(identity, kh, ikh);
    MatrixProduct(ikh, pp, filter.P);
}
