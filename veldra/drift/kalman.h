#pragma once
// A small two-state linear Kalman filter on 2x2 matrices; one per axis smooths the
// drift rate (x0, arcsec/hour) and estimates its change (x1, arcsec/hour per second).
#include "veldra/state/kalman_filter.h"

void MatrixProduct(const Matrix2& a, const Matrix2& b, Matrix2& result);
void MatrixTimesVector(const Matrix2& m, const Vector2& v, Vector2& result);
void VectorSum(const Vector2& a, const Vector2& b, Vector2& result);
void VectorDifference(const Vector2& a, const Vector2& b, Vector2& result);
void MatrixSum(const Matrix2& a, const Matrix2& b, Matrix2& result);
void MatrixDifference(const Matrix2& a, const Matrix2& b, Matrix2& result);
void Transpose(const Matrix2& m, Matrix2& result);
void Inverse(const Matrix2& m, Matrix2& result);
void Identity(Matrix2& result);
void ZeroMatrix(Matrix2& result);
void ZeroVector(Vector2& result);
void Scale(const Matrix2& m, double factor, Matrix2& result);

// x := 0, B := 0, P := p0 I, Q := 0, R := diag(r0, r1), H := I.
void KalmanInit(KalmanFilter& filter, double r0, double r1, double p0);
// One predict/update step with control u, measurement z and state transition F.
void KalmanStep(KalmanFilter& filter, const Vector2& u, const Vector2& z, const Matrix2& F);
