/* The floor of the continuous-read benchmark: creates an m x n double matrix and writes every
 * element once, the least work any command that returns such a matrix has to do.
 * floor_mex(m, n) returns the matrix. */
#include "mex.h"

__attribute__((visibility("default"))) void mexFunction(int nlhs, mxArray* plhs[], int nrhs,
                                                        const mxArray* prhs[]) {
    (void)nlhs;
    if (nrhs != 2) {
        mexErrMsgTxt("usage: floor_mex(rows, columns)");
    }
    const mwSize rows = (mwSize)mxGetScalar(prhs[0]);
    const mwSize columns = (mwSize)mxGetScalar(prhs[1]);
    mxArray* out = mxCreateDoubleMatrix(rows, columns, mxREAL);
    double* values = mxGetPr(out);
    const size_t count = (size_t)rows * (size_t)columns;
    for (size_t i = 0; i < count; ++i) {
        values[i] = (double)(short)(i * 7u) * 0.25;
    }
    plhs[0] = out;
}
