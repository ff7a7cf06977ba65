#pragma once
// The state of one axis's Kalman filter: plain 2x2 values that MainState holds.  The
// filter's operations are in veldra/drift/kalman.h.

struct Vector2 {
    double v0 = 0;
    double v1 = 0;
};

struct Matrix2 {
    double m00 = 0;
    double m01 = 0;
    double m10 = 0;
    double m11 = 0;
};

struct KalmanFilter {
    Vector2 x; // state
    Matrix2 B; // control matrix
    Matrix2 P; // covariance of the state estimate
    Matrix2 Q; // process noise covariance
    Matrix2 R; // measurement noise covariance
    Matrix2 H; // measurement matrix
};
