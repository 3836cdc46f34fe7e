#include "viewer/vtkViewer.h"

#include <QVTKInteractor.h>
#include <QVTKRenderWindowAdapter.h>
#include <malloc.h>
#include <pcl/visualization/pcl_visualizer.h>
#include <vtkActor.h>
#include <vtkAppendPolyData.h>
#include <vtkCellArray.h>
#include <vtkColorTransferFunction.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkIdTypeArray.h>
#include <vtkLODActor.h>
#include <vtkLookupTable.h>
#include <vtkMath.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkScalarBarActor.h>
#include <vtkScalarBarRepresentation.h>
#include <vtkScalarBarWidget.h>
#include <vtkSmartPointer.h>
#include <vtkTransform.h>
#include <vtkTransformPolyDataFilter.h>
#include <vtkUnsignedCharArray.h>
#include <vtkVectorText.h>

#include <QCoreApplication>
#include <QEvent>
#include <QSurfaceFormat>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

#include "ui_vtkViewer.h"
#include "viewer/ViewerGeometry.h"

// Object-factory entry points of the VTK modules the scene needs. Static
// libraries cannot rely on VTK's automatic module initialisation, so the first
// viewer registers them itself.
void vtkRenderingOpenGL2_AutoInit_Construct();
void vtkInteractionStyle_AutoInit_Construct();
void vtkRenderingFreeType_AutoInit_Construct();

namespace {

void InitVtkModules() {
  static std::once_flag once;
  std::call_once(once, [] {
    vtkRenderingOpenGL2_AutoInit_Construct();
    vtkInteractionStyle_AutoInit_Construct();
    vtkRenderingFreeType_AutoInit_Construct();
  });
}

constexpr double kGrey = 0.5;

void ResetTopDownCamera(pcl::visualization::PCLVisualizer& visualizer) {
  visualizer.setCameraPosition(0, 0, 40, 0, 0, 0, 1, 0, 0, 0);
}

// The axes and the ten one-metre rings as one actor of plain lines. VTK's cost
// of a render grows with the number of actors far more than with their
// vertices, and under a software renderer the view is drawn on the CPU, so the
// static scene is one draw. Lines without normals are not lit: they keep their
// exact grey.
vtkSmartPointer<vtkActor> GridActor() {
  constexpr int kRings = 10;
  constexpr int kSides = 70;
  auto points = vtkSmartPointer<vtkPoints>::New();
  auto lines = vtkSmartPointer<vtkCellArray>::New();
  const double axes[4][3] = {{10, 0, 0}, {-10, 0, 0}, {0, 10, 0}, {0, -10, 0}};
  for (int a = 0; a < 4; a += 2) {
    const vtkIdType ends[2] = {points->InsertNextPoint(axes[a]), points->InsertNextPoint(axes[a + 1])};
    lines->InsertNextCell(2, ends);
  }
  for (int r = 1; r <= kRings; ++r) {
    const vtkIdType first = points->GetNumberOfPoints();
    for (int k = 0; k < kSides; ++k) {
      const double phi = 2.0 * vtkMath::Pi() * k / kSides;
      points->InsertNextPoint(r * std::cos(phi), r * std::sin(phi), 0.0);
    }
    lines->InsertNextCell(kSides + 1);
    for (int k = 0; k < kSides; ++k) lines->InsertCellPoint(first + k);
    lines->InsertCellPoint(first);
  }
  auto data = vtkSmartPointer<vtkPolyData>::New();
  data->SetPoints(points);
  data->SetLines(lines);
  auto mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
  mapper->SetInputData(data);
  auto actor = vtkSmartPointer<vtkActor>::New();
  actor->SetMapper(mapper);
  actor->GetProperty()->SetColor(kGrey, kGrey, kGrey);
  return actor;
}

// The labels "1m" to "10m" along the x axis, turned to read along it, as one
// actor for the same reason.
vtkSmartPointer<vtkActor> RingLabelsActor() {
  auto append = vtkSmartPointer<vtkAppendPolyData>::New();
  for (int n = 1; n <= 10; ++n) {
    auto text = vtkSmartPointer<vtkVectorText>::New();
    text->SetText((std::to_string(n) + "m").c_str());
    auto place = vtkSmartPointer<vtkTransform>::New();
    place->Translate(n, 0.0, 0.0);
    place->RotateZ(-90.0);
    place->Scale(0.3, 0.3, 0.3);
    auto moved = vtkSmartPointer<vtkTransformPolyDataFilter>::New();
    moved->SetInputConnection(text->GetOutputPort());
    moved->SetTransform(place);
    append->AddInputConnection(moved->GetOutputPort());
  }
  append->Update();
  auto mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
  mapper->SetInputData(append->GetOutput());
  auto actor = vtkSmartPointer<vtkActor>::New();
  actor->SetMapper(mapper);
  actor->GetProperty()->SetColor(kGrey, kGrey, kGrey);
  return actor;
}

// Background grey of the scene as a byte: faded points tend towards it.
constexpr int kBackground = 26;

// Replaces the geometry and per-point colours of a cloud actor with the given
// clouds, in drawing order, each with its colours faded towards the background by
// its weight in 256ths (256 keeps them). The actor and its rendering
// properties stay. The visualizer's own update casts the mapper to a type it
// does not have (undefined behaviour the sanitizers stop at), so the poly data
// is built here, in one pass over all clouds.
void UpdateCloudActor(vtkActor& actor,
                      const std::vector<std::pair<const pcl::PointCloud<pcl::PointXYZRGB>*, int>>& clouds) {
  vtkIdType n = 0;
  for (const auto& c : clouds) n += static_cast<vtkIdType>(c.first->size());
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataTypeToFloat();
  points->SetNumberOfPoints(n);
  auto colours = vtkSmartPointer<vtkUnsignedCharArray>::New();
  colours->SetNumberOfComponents(3);
  colours->SetName("Colors");
  colours->SetNumberOfTuples(n);
  auto offsets = vtkSmartPointer<vtkIdTypeArray>::New();
  offsets->SetNumberOfValues(n + 1);
  auto connectivity = vtkSmartPointer<vtkIdTypeArray>::New();
  connectivity->SetNumberOfValues(n);
  vtkIdType k = 0;
  for (const auto& [cloud, weight256] : clouds) {
    const auto fade = [w = weight256](uint8_t c) {
      return static_cast<unsigned char>(kBackground + ((static_cast<int>(c) - kBackground) * w) / 256);
    };
    for (const pcl::PointXYZRGB& p : *cloud) {
      points->SetPoint(k, p.x, p.y, p.z);
      const unsigned char rgb[3] = {fade(p.r), fade(p.g), fade(p.b)};
      colours->SetTypedTuple(k, rgb);
      offsets->SetValue(k, k);
      connectivity->SetValue(k, k);
      ++k;
    }
  }
  offsets->SetValue(n, n);
  auto vertices = vtkSmartPointer<vtkCellArray>::New();
  vertices->SetData(offsets, connectivity);

  auto data = vtkSmartPointer<vtkPolyData>::New();
  data->SetPoints(points);
  data->SetVerts(vertices);
  data->GetPointData()->SetScalars(colours);
  vtkMapper* mapper = actor.GetMapper();
  mapper->SetInputDataObject(0, data);
  double range[2] = {0.0, 0.0};
  if (n > 0) colours->GetRange(range);
  mapper->SetScalarRange(range);
}

// The visualizer's interactor style binds most letters, digits and signs:
// they turn the rings into dots, switch to wireframe, fly or spin the camera,
// toggle stereo, write screenshots and camera files into the working folder,
// or end the program. The view keeps the style for its mouse events, and
// its keys go on to the window instead, where the menus' shortcuts (the
// space bar's hold) are the only keys that act.
class KeysPassBy : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
    event->ignore();  // taken from the scene, handed on to the widgets around it
    return true;
  }
};

}  // namespace

// The legend's VTK objects. Each ShowScalarBar call replaces them; the smart
// pointers release the previous set, and the destructor switches the widget
// off before the render window goes away.
struct vtkViewer::Legend {
  vtkSmartPointer<vtkScalarBarWidget> widget;
  vtkSmartPointer<vtkColorTransferFunction> transfer;
  vtkSmartPointer<vtkLookupTable> table;
  vtkSmartPointer<vtkScalarBarRepresentation> representation;
  vtkSmartPointer<vtkScalarBarActor> actor;
};

void vtkViewer::PrepareOpenGL() {
  QSurfaceFormat::setDefaultFormat(QVTKRenderWindowAdapter::defaultFormat());
  // Mesa's software renderer splits every drawing pass over a thread per core
  // and waits for them all. A frame of this view is small: one thread draws it
  // for less CPU than waking and joining several, pass after pass. Hardware
  // drivers ignore the variable, and a value the user set is kept.
  if (!qEnvironmentVariableIsSet("LP_NUM_THREADS")) qputenv("LP_NUM_THREADS", "1");
  // VTK spreads the work on its arrays over a pool of threads. The scene's
  // arrays hold a few thousand points at most: waking the pool for them costs
  // more than it saves, several times per frame.
  if (!qEnvironmentVariableIsSet("VTK_SMP_BACKEND_IN_USE")) qputenv("VTK_SMP_BACKEND_IN_USE", "Sequential");
}

vtkViewer::vtkViewer(QWidget* parent) : QWidget(parent), ui(new Ui_vtkViewer), legend(new Legend) {
  qRegisterMetaType<std::vector<KXScanPoint>>("std::vector<KXScanPoint>");
  ui->setupUi(this);
  // The form's spare OpenGL widget draws nothing. Shown, it would make Qt
  // compose the whole window through OpenGL whenever anything in it changes.
  ui->openGLWidget->hide();
  InitScene();
  visualizer->registerMouseCallback(&vtkViewer::OnMouseEvent, this);
  ui->viewer->installEventFilter(new KeysPassBy(this));
}

vtkViewer::~vtkViewer() {
  if (legend->widget) {
    legend->widget->Off();
    legend->widget->SetInteractor(nullptr);
  }
  legend.reset();
  scalarBarWidget = nullptr;
  // The visualizer's interactor style holds the render window, which holds the
  // interactor, which holds the style: a cycle VTK cannot collect, and a style
  // whose mouse callback points at this viewer. Detaching the style from the
  // widget's interactor breaks both.
  if (QVTKInteractor* interactor = ui->viewer->interactor()) interactor->SetInteractorStyle(nullptr);
  delete ui;
  ui = nullptr;
}

void vtkViewer::InitScene() {
  InitVtkModules();
  frameCloud.reset(new pcl::PointCloud<pcl::PointXYZI>);

  auto renderer = vtkSmartPointer<vtkRenderer>::New();
  vtkSmartPointer<vtkGenericOpenGLRenderWindow> renderWindow = SceneWidget::NewRenderWindow();
  // One sample per pixel: with multisampling (tried under Mesa's software
  // renderer) the one-pixel axis and measuring lines are blended into the
  // background and lose their exact grey and red.
  renderWindow->SetMultiSamples(0);
  renderWindow->AddRenderer(renderer);
  visualizer = std::make_shared<pcl::visualization::PCLVisualizer>(renderer, renderWindow, "Viewer", false);
  // The scene widget must own the render window before anything renders: the
  // visualizer renders on every camera change, and a render window without the
  // widget's OpenGL context crashes.
  ui->viewer->setRenderWindow(renderWindow);
  // The scene covers the whole widget: nothing under it needs painting when
  // a frame arrives.
  setAttribute(Qt::WA_OpaquePaintEvent);

  visualizer->setBackgroundColor(0.1, 0.1, 0.1);
  // Opaque everywhere, so the image needs no pass that fixes its alpha.
  renderer->SetBackgroundAlpha(1.0);
  ResetTopDownCamera(*visualizer);
  visualizer->setShowFPS(false);
  visualizer->setupInteractor(ui->viewer->interactor(), ui->viewer->renderWindow());

  vtkRenderer* firstRenderer = ui->viewer->renderWindow()->GetRenderers()->GetFirstRenderer();
  firstRenderer->AddActor(GridActor());
  firstRenderer->AddActor(RingLabelsActor());

  {
    pcl::PointCloud<pcl::PointXYZRGB>::Ptr empty(new pcl::PointCloud<pcl::PointXYZRGB>);
    pcl::visualization::PointCloudGeometryHandlerXYZ<pcl::PointXYZRGB> geometry(empty);
    pcl::visualization::PointCloudColorHandlerGenericField<pcl::PointXYZRGB> colour(empty, "x");
    visualizer->addPointCloud<pcl::PointXYZRGB>(empty, colour, geometry, cloudId, 0);
  }
  // The cloud's actor would build reduced copies of every new frame for faster
  // redraws while the camera moves; 600 points need none. Giving it its own
  // mapper as the only level of detail stops that work.
  auto cloud = visualizer->getCloudActorMap()->find(cloudId);
  if (cloud != visualizer->getCloudActorMap()->end() && cloud->second.actor)
    cloud->second.actor->AddLODMapper(cloud->second.actor->GetMapper());
  visualizer->setPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_POINT_SIZE, pointSize, cloudId, 0);

  legend->widget = vtkSmartPointer<vtkScalarBarWidget>::New();
  scalarBarWidget = legend->widget;
  ShowScalarBar(true, 0);
}

void vtkViewer::SetPointSize(int size) {
  pointSize = size;
  visualizer->setPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_POINT_SIZE, size, cloudId, 0);
  RenderView();
}

void vtkViewer::SetRotationSign(int sign) {
  if (sign == rotationSign) return;
  rotationSign = sign;
  // The revolutions on the view are drawn again mirrored, so the change shows at once.
  for (size_t k = 0; k < trail.size(); ++k) BuildRevolution(trail[k], k + 1 == trail.size());
  DrawTrail();
}

void vtkViewer::SetTrailLength(int length) {
  length = std::clamp(length, 1, kMaxTrail);
  if (length == trailLength) return;
  trailLength = length;
  // While held too: the held revolutions shown are the newest that fit.
  while (trail.size() > static_cast<size_t>(trailLength)) trail.pop_front();
  DrawTrail();
}

const std::vector<KXScanPoint>& vtkViewer::NewestFrame() const {
  static const std::vector<KXScanPoint> none;
  return trail.empty() ? none : trail.back().frame;
}

QImage vtkViewer::GrabImage() { return ui->viewer->grabFramebuffer(); }

void vtkViewer::RenderView() {
  // The widget paints the last image its render window made: only a render
  // makes a new one, and the render itself schedules the widget's repaint.
  // Until the widget has its OpenGL context the render window skips the call.
  ui->viewer->renderWindow()->Render();
}

void vtkViewer::ShowScalarBar(bool show, int mode) {
  if (!show) {
    scalarBarWidget->Off();
    RenderView();
    return;
  }

  auto transfer = vtkSmartPointer<vtkColorTransferFunction>::New();
  transfer->AddRGBPoint(1.0, 0.0, 0.0, 1.0);
  transfer->AddRGBPoint(0.5, 0.0, 1.0, 0.0);
  transfer->AddRGBPoint(0.0, 1.0, 0.0, 0.0);
  transfer->SetColorSpaceToRGB();

  auto table = vtkSmartPointer<vtkLookupTable>::New();
  table->SetNumberOfTableValues(64);
  for (int i = 0; i < 64; ++i) {
    double rgb[3];
    transfer->GetColor(static_cast<double>(63 - i) / 64.0, rgb);
    table->SetTableValue(i, rgb[0], rgb[1], rgb[2], 1.0);
  }
  const char* title = nullptr;
  switch (mode) {
    case 0:
      table->SetTableRange(0, 255);
      title = "intensity\n";
      break;
    case 3:
      table->SetTableRange(0, 300);
      title = "distance\n";
      break;
    case 4:
      table->SetTableRange(-50, 50);
      title = "height\n";
      break;
    case 5:
      table->SetTableRange(0, 255);
      break;
    default:
      break;
  }
  if (mode == 0 || mode == 3 || mode == 4 || mode == 5) colorMode = mode;
  table->Build();

  auto representation = vtkSmartPointer<vtkScalarBarRepresentation>::New();
  representation->SetPosition(0.9, 0.0);
  representation->SetPosition2(0.08, 0.3);
  representation->SetShowBorderToOff();

  auto actor = vtkSmartPointer<vtkScalarBarActor>::New();
  actor->SetOrientationToHorizontal();
  actor->SetLookupTable(table);
  actor->SetLabelFormat("%.2f");
  actor->SetMaximumHeightInPixels(300);
  actor->SetTitleRatio(0.8);
  representation->SetScalarBarActor(actor);
  if (title) actor->SetTitle(title);

  scalarBarWidget->SetInteractor(ui->viewer->renderWindow()->GetInteractor());
  scalarBarWidget->SetRepositionable(0);
  scalarBarWidget->SetRepresentation(representation);
  scalarBarWidget->SetSelectable(0);
  scalarBarWidget->On();

  legend->transfer = transfer;
  legend->table = table;
  legend->representation = representation;
  legend->actor = actor;
  RenderView();
}

void vtkViewer::GetSelectedPoint(float* distance, float* angle, uint8_t* intensity) {
  *distance = selectedDistance.load();
  *angle = selectedAngle.load();
  *intensity = selectedIntensity.load();
}

void vtkViewer::slotShowDeviceData(std::vector<KXScanPoint> _kx_pointCloud) {
  // Mesa compiles the scene's shaders with LLVM while the first frames are
  // drawn, and frees most of what that took; glibc keeps the freed pages of
  // its heap resident until asked to give them back. Asked once, here.
  if (++framesArrived == kFramesBeforeTrim) malloc_trim(0);
  if (held) return;
  if (startAnew) trail.clear();
  startAnew = false;
  if (trail.size() >= static_cast<size_t>(trailLength)) trail.pop_front();
  trail.push_back(Revolution{std::move(_kx_pointCloud), {}});
  BuildRevolution(trail.back(), true);
  DrawTrail();
}

void vtkViewer::BuildRevolution(Revolution& revolution, bool newest) {
  pcl::PointCloud<pcl::PointXYZI>::Ptr pick(new pcl::PointCloud<pcl::PointXYZI>);
  // Every point of the frame is drawn, whatever its length, and none is read
  // past its end.
  viewergeom::BuildFrameClouds(revolution.frame, rotationSign, revolution.display, *pick);
  if (newest) frameCloud = pick;
}

void vtkViewer::DrawTrail() {
  // A revolution `age` revolutions old keeps (trailLength - age) / trailLength
  // of its colour, in 1/256 steps: the newest keeps it all, so one revolution
  // looks exactly as without trails. Every point lies in one plane at one
  // depth from the camera, and the depth test keeps the first point drawn on
  // a pixel: the newest goes first, so that a still room shows it on top.
  std::vector<std::pair<const pcl::PointCloud<pcl::PointXYZRGB>*, int>> clouds;
  for (int age = 0; age < static_cast<int>(trail.size()); ++age)
    clouds.emplace_back(&trail[trail.size() - 1 - static_cast<size_t>(age)].display,
                        256 * (trailLength - age) / trailLength);
  // Updating in place keeps the actor, its point size and the rest of the
  // scene. Without the cloud (never expected) nothing is drawn.
  auto actors = visualizer->getCloudActorMap();
  auto found = actors->find(cloudId);
  if (found != actors->end() && found->second.actor) UpdateCloudActor(*found->second.actor, clouds);
  RenderView();
}

pcl::PointXYZI vtkViewer::PickPoint(double x, double y) {
  std::vector<pcl::visualization::Camera> cameras;
  if (frameCloud) visualizer->getCameras(cameras);
  if (cameras.empty()) {
    pcl::PointXYZI origin;
    origin.x = origin.y = origin.z = 0.0f;
    origin.intensity = 0.0f;
    return origin;
  }
  return viewergeom::PickNearest(cameras.front(), x, y, *frameCloud);
}

void vtkViewer::OnMouseEvent(const pcl::visualization::MouseEvent& event, void* cookie) {
  auto* self = static_cast<vtkViewer*>(cookie);
  if (event.getButton() == pcl::visualization::MouseEvent::LeftButton) {
    ResetTopDownCamera(*self->visualizer);
    self->RenderView();
  }
  if (event.getType() != pcl::visualization::MouseEvent::MouseButtonRelease ||
      event.getButton() != pcl::visualization::MouseEvent::RightButton)
    return;

  const pcl::PointXYZI p = self->PickPoint(event.getX(), event.getY());
  const double distance = viewergeom::PickedDistance(p);
  self->selectedDistance.store(static_cast<float>(distance));
  self->selectedAngle.store(viewergeom::PickedAngle(p, self->rotationSign));
  self->selectedIntensity.store(static_cast<uint8_t>(p.intensity));

  pcl::visualization::PCLVisualizer& vis = *self->visualizer;
  vis.removeShape("dist_line", 0);
  vis.addLine(pcl::PointXYZ(0.0f, 0.0f, 0.0f), pcl::PointXYZ(p.x, p.y, p.z), 3.0, 0.0, 0.0, "dist_line", 0);
  double orientation[3] = {0.0, 0.0, -90.0};
  vis.removeShape("dist", 0);
  vis.addText3D(viewergeom::DistanceLabel(distance), pcl::PointXYZ(p.x, p.y, p.z), orientation, 0.1, 0.9, 0.9, 0.9,
                "dist", 0);
  self->RenderView();
}
