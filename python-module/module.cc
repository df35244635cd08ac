#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "_ostrel_feature_store", nullptr, -1,
                              nullptr, nullptr, nullptr, nullptr, nullptr};

PyMODINIT_FUNC PyInit__ostrel_feature_store() {
  PyObject* m = PyModule_Create(&kModule);
  if (m && PyModule_AddStringConstant(m, "__version__", "0.1.0") < 0) Py_CLEAR(m);
  return m;
}
