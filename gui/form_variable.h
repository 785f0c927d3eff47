#pragma once

// Keeps a form's global variable referring to the form while the form exists. As the form's
// last member it is set before the constructor's body runs and cleared right after the
// destructor's body; a variable that already refers to a newer form is left alone.
template <typename Form>
class FormVariable {
 public:
  FormVariable(Form*& variable, Form* form) : variable_(variable), form_(form) { variable_ = form; }
  ~FormVariable() {
    if (variable_ == form_)
      variable_ = nullptr;
  }
  FormVariable(const FormVariable&) = delete;
  FormVariable& operator=(const FormVariable&) = delete;

 private:
  Form*& variable_;
  Form* const form_;
};
