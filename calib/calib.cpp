// mzcalib: filled in by the calibration work
