// The Python face of the store: string conversion, thread binding, exclusive access, and the
// store's errors as ValueError. No feature logic lives here.

// Built against the stable ABI (3.11 and later), so one wheel serves every newer interpreter.
#define PY_SSIZE_T_CLEAN
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030B0000
#endif
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "feature-store-core/store.h"

namespace {

using ostrel::store::FeatureStore;
using ostrel::store::StoreError;

constexpr const char* kQualName = "_ostrel_feature_store::PyFeatureStore";

// Raised for a call from a thread other than the creator. It derives from BaseException so that
// `except Exception` cannot swallow a program error of this kind.
PyObject* g_foreign_thread_error = nullptr;

// A thread's identity for the binding: unlike the interpreter's thread identifiers, which the
// system reuses once a thread has ended, these are never handed out twice, so a store created on
// a finished thread cannot be taken over by a later thread that happens to get the same number.
std::uint64_t current_thread() {
  static std::atomic<std::uint64_t> next{1};
  thread_local const std::uint64_t id = next.fetch_add(1, std::memory_order_relaxed);
  return id;
}

struct PyFeatureStore {
  PyObject ob_base;     // what PyObject_HEAD expands to
  FeatureStore* store;  // owned; null only while construction has not finished
  std::uint64_t owner;  // current_thread() of the creating thread
  bool borrowed;        // a method of this object is running
};

void raise_store_error(const StoreError& e) {
  const std::string text = e.display();
  PyObject* msg =
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (!msg) return;
  PyErr_SetObject(PyExc_ValueError, msg);
  Py_DECREF(msg);
}

// Converts a str argument to UTF-8 text; anything else is a TypeError naming the argument.
bool text_arg(PyObject* obj, const char* name, std::string_view* out) {
  if (!PyUnicode_Check(obj)) {
    PyObject* type_name =
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__");
    if (!type_name) return false;
    PyErr_Format(PyExc_TypeError, "argument '%s': expected str, got %U", name, type_name);
    Py_DECREF(type_name);
    return false;
  }
  Py_ssize_t n = 0;
  const char* s = PyUnicode_AsUTF8AndSize(obj, &n);
  if (!s) return false;  // e.g. lone surrogates: the UnicodeEncodeError stands
  *out = std::string_view(s, static_cast<std::size_t>(n));
  return true;
}

// Runs f, turning C++ failures into Python exceptions instead of ending the process.
template <class F>
PyObject* guarded(F&& f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::length_error&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_Format(PyExc_RuntimeError, "internal error: %s", e.what());
    return nullptr;
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "internal error");
    return nullptr;
  }
}

PyObject* store_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* kKeywords[] = {"spec_json", nullptr};
  PyObject* spec_obj = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:FeatureStore", const_cast<char**>(kKeywords),
                                   &spec_obj))
    return nullptr;
  std::string_view spec;
  if (!text_arg(spec_obj, "spec_json", &spec)) return nullptr;
  return guarded([&]() -> PyObject* {
    auto created = FeatureStore::create(spec);
    if (!created) {
      raise_store_error(created.error());
      return nullptr;
    }
    auto* store = new FeatureStore(std::move(*created));
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    auto* self = reinterpret_cast<PyFeatureStore*>(alloc(type, 0));
    if (!self) {
      delete store;
      return nullptr;
    }
    self->store = store;
    self->owner = current_thread();
    self->borrowed = false;
    return reinterpret_cast<PyObject*>(self);
  });
}

void store_dealloc(PyObject* obj) {
  auto* self = reinterpret_cast<PyFeatureStore*>(obj);
  if (self->store && current_thread() != self->owner) {
    // Released on another thread: report it and give the store's memory up rather than touch
    // state that belongs to the creating thread.
    // The object itself is not named: it is already dying and must not be revived by a repr.
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_Format(PyExc_RuntimeError, "%s is unsendable, but is being dropped on another thread",
                 kQualName);
    PyErr_WriteUnraisable(nullptr);
    PyErr_Restore(type, value, tb);
  } else {
    delete self->store;
  }
  self->store = nullptr;
  PyTypeObject* tp = Py_TYPE(obj);
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
  free_slot(obj);
  Py_DECREF(tp);  // instances of a heap type hold a reference to it
}

// Refuses a call from a thread other than the creator, without touching the store.
bool check_thread(PyFeatureStore* self) {
  const std::uint64_t here = current_thread();
  if (here == self->owner) return true;
  PyErr_Format(
      g_foreign_thread_error,
      "%s is unsendable, but sent to another thread (owner thread %llu, calling thread %llu)",
      kQualName, static_cast<unsigned long long>(self->owner),
      static_cast<unsigned long long>(here));
  return false;
}

PyObject* store_command(PyObject* obj, PyObject* args, PyObject* kwargs) {
  auto* self = reinterpret_cast<PyFeatureStore*>(obj);
  static const char* kKeywords[] = {"cmd_json", nullptr};
  PyObject* cmd_obj = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:command", const_cast<char**>(kKeywords),
                                   &cmd_obj))
    return nullptr;
  if (!check_thread(self)) return nullptr;
  if (self->borrowed) {
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    return nullptr;
  }
  self->borrowed = true;
  PyObject* result = nullptr;
  std::string_view cmd;
  if (text_arg(cmd_obj, "cmd_json", &cmd)) {
    result = guarded([&]() -> PyObject* {
      auto response = self->store->handle_command(cmd);
      if (!response) {
        raise_store_error(response.error());
        return nullptr;
      }
      return PyUnicode_DecodeUTF8(response->data(), static_cast<Py_ssize_t>(response->size()),
                                  "replace");
    });
  }
  self->borrowed = false;
  return result;
}

PyObject* store_version(PyObject*, PyObject*) {
  return PyUnicode_FromStringAndSize(ostrel::store::kVersion.data(),
                                     static_cast<Py_ssize_t>(ostrel::store::kVersion.size()));
}

PyMethodDef kMethods[] = {
    {"command", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(store_command)),
     METH_VARARGS | METH_KEYWORDS,
     "command($self, cmd_json)\n--\n\nApply a command JSON and return the resulting response "
     "JSON."},
    {"version", store_version, METH_NOARGS | METH_STATIC, "version()\n--\n\nThe library version."},
    {nullptr, nullptr, 0, nullptr},
};

constexpr const char kClassDoc[] =
    "FeatureStore(spec_json)\n"
    "--\n"
    "\n"
    "A feature store driven by JSON commands.\n"
    "\n"
    "`unsendable`: the store holds a streaming universe of stateful indicator\n"
    "evaluators, so a handle is bound to the thread that created it.";

PyType_Slot kStoreSlots[] = {
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_new, reinterpret_cast<void*>(store_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(store_dealloc)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kStoreSpec = {
    "_ostrel_feature_store.FeatureStore",
    static_cast<int>(sizeof(PyFeatureStore)),
    0,
    Py_TPFLAGS_DEFAULT,
    kStoreSlots,
};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT,
                       "_ostrel_feature_store",
                       "The native module (`ostrel_feature_store._ostrel_feature_store`).",
                       -1,
                       nullptr,
                       nullptr,
                       nullptr,
                       nullptr,
                       nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__ostrel_feature_store() {
  PyObject* m = PyModule_Create(&kModule);
  if (!m) return nullptr;
  if (!g_foreign_thread_error) {
    g_foreign_thread_error = PyErr_NewExceptionWithDoc(
        "_ostrel_feature_store.ForeignThreadError",
        "A store was used from a thread other than the one that created it.", PyExc_BaseException,
        nullptr);
  }
  PyObject* type = PyType_FromSpec(&kStoreSpec);
  const bool ok = g_foreign_thread_error && type &&
                  PyModule_AddObjectRef(m, "FeatureStore", type) == 0 &&
                  PyModule_AddStringConstant(m, "__version__", "0.1.0") == 0;
  Py_XDECREF(type);
  if (!ok) Py_CLEAR(m);
  return m;
}
