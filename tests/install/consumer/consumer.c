/* A program of an integrator: one call into each installed library. */
#include <stdio.h>

#include <mz/mzcalib.h>
#include <mz/mzpattern.h>
#include <mz/mzview.h>

int main(void) {
    CalibHandle* calib = mzMultiCalibCreate(0);
    const int calibOk = calib != NULL && mzMultiCalibInit(calib, 0, 800, 0) == 0;
    mzMultiCalibRelease(&calib);

    ViewHandle view = mzMultiviewCreate(0);
    const int viewOk = view != NULL;
    mzMultiviewRelease(&view);

    /* Undistorting the principal point gives the ideal plane's origin. */
    CameraParam cam = {0};
    cam.f = 300.0f;
    cam.fx = cam.fy = 300.0f;
    cam.cx = 480.0f;
    cam.cy = 320.0f;
    cam.k1 = 1.0f;
    cam.c1 = 1.0f;
    Point2F pixel = {480.0f, 320.0f}, ideal = {1.0f, 1.0f};
    mzFeatureUndistortion(&pixel, &ideal, &cam);
    const int geometryOk = ideal.x == 0.0f && ideal.y == 0.0f;
    /* No picture: the detector refuses it. */
    const int patternOk = geometryOk && mzGetPatternIP(NULL, &cam, NULL) == -5;

    printf("mzcalib %s, mzview %s, mzpattern %s\n", calibOk ? "ok" : "FAILED", viewOk ? "ok" : "FAILED",
           patternOk ? "ok" : "FAILED");
    return calibOk && viewOk && patternOk ? 0 : 1;
}
